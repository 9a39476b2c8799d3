#include <gtest/gtest.h>

#include <cstring>

#include "UnitSupport.h"
#include "net/GeneralKey.h"

namespace {

class GeneralKeyTest : public CoreTest {};

}  // namespace

TEST_F(GeneralKeyTest, BuiltInRecordGivesTheKnownKey) {
    unsigned char key[kGeneralKeySize];
    ASSERT_EQ(loadGeneralKey(key), GeneralKeyStatus::kOk);
    EXPECT_EQ(0, std::memcmp(key, "ZevServerGenKey1", 16));
}

TEST_F(GeneralKeyTest, SettingOverridesTheRecord) {
    struct Case {
        const char* value;
        GeneralKeyStatus status;
    };
    const Case cases[] = {
        {"000102030405060708090a0b0c0d0eFF", GeneralKeyStatus::kOk},
        {"000102030405060708090a0b0c0d0e", GeneralKeyStatus::kBadSetting},
        {"000102030405060708090a0b0c0d0eFF00", GeneralKeyStatus::kBadSetting},
        {"000102030405060708090a0b0c0d0eFG", GeneralKeyStatus::kBadSetting},
        {"", GeneralKeyStatus::kBadSetting},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        setConf("GeneralKey", c.value);
        unsigned char key[kGeneralKeySize] = {};
        ASSERT_EQ(loadGeneralKey(key), c.status);
        if (c.status == GeneralKeyStatus::kOk) {
            EXPECT_EQ(key[0], 0x00);
            EXPECT_EQ(key[14], 0x0E);
            EXPECT_EQ(key[15], 0xFF);
        }
    }
}

TEST(Deobfuscate, RoundTripsAndChecksTheChecksum) {
    for (unsigned char offset : {0x00, 0x5D, 0xC8, 0xFF}) {
        SCOPED_TRACE(static_cast<int>(offset));
        const char* text = "Any text, \x7F and \xE9 too";
        unsigned char record[64];
        std::size_t size = obfuscateString(text, offset, record, sizeof(record));
        ASSERT_EQ(size, std::strlen(text) + 7);
        char out[255];
        ASSERT_NE(deobfuscateString(record, size, out), nullptr);
        EXPECT_STREQ(out, text);

        record[6] ^= 0x01;
        EXPECT_EQ(deobfuscateString(record, size, out), nullptr);
        EXPECT_EQ(deobfuscateString(record, size - 1, out), nullptr) << "record cut short";
    }
    unsigned char negative[8] = {0x80};
    char out[255];
    EXPECT_EQ(deobfuscateString(negative, sizeof(negative), out), nullptr);
}
