#include <gtest/gtest.h>

#include <cstring>

#include "net/Envelope.h"
#include "support/TestClient.h"

namespace {

CRijndael keyed(const std::uint8_t key[16]) {
    CRijndael cipher;
    cipher.MakeKey(reinterpret_cast<const char*>(key), CRijndael::sm_chain0, 16, 16);
    return cipher;
}

}  // namespace

TEST(Envelope, SizesAlwaysCarryPadding) {
    struct Case {
        int length;
        int size;
    };
    for (Case c : {Case{1, 16}, Case{13, 16}, Case{14, 32}, Case{30, 48}, Case{1022, 1040}}) {
        SCOPED_TRACE(c.length);
        EXPECT_EQ(envelopeSize(c.length), c.size);
    }
}

TEST(Envelope, SealMatchesAnIndependentAesAndOpens) {
    const std::uint8_t* key = TestClient::kDefaultGeneralKey;
    CRijndael cipher = keyed(key);
    for (int length : {1, 13, 14, 100, 1021}) {
        SCOPED_TRACE(length);
        Bytes datagram(static_cast<std::size_t>(length));
        for (int i = 0; i < length; ++i)
            datagram[static_cast<std::size_t>(i)] = std::uint8_t(i * 7 + 1);
        unsigned char buffer[1100] = {};
        std::memcpy(buffer, datagram.data(), datagram.size());
        int size = sealEnvelope(cipher, buffer, length, buffer, sizeof(buffer));
        ASSERT_EQ(size, envelopeSize(length));
        EXPECT_EQ(Bytes(buffer, buffer + size), TestClient::seal(key, datagram));
        if (size > kMaxDatagramSize) continue;
        ASSERT_EQ(openEnvelope(cipher, buffer, size), length);
        EXPECT_EQ(Bytes(buffer, buffer + length), datagram);
    }
}

TEST(Envelope, SealRefusesWhatDoesNotFit) {
    CRijndael cipher = keyed(TestClient::kDefaultGeneralKey);
    unsigned char buffer[64] = {};
    EXPECT_EQ(sealEnvelope(cipher, buffer, 0, buffer, sizeof(buffer)), 0);
    EXPECT_EQ(sealEnvelope(cipher, buffer, 30, buffer, 47), 0) << "needs a whole padding block";
    EXPECT_EQ(sealEnvelope(cipher, buffer, 30, buffer, 48), 48);
    EXPECT_EQ(sealEnvelope(cipher, buffer, 29, buffer, 32), 32);
}

TEST(Envelope, OpenRefusesUnusableDatagrams) {
    const std::uint8_t* key = TestClient::kDefaultGeneralKey;
    CRijndael cipher = keyed(key);
    // Builds an envelope by hand with any length field and `blocks` blocks.
    auto forged = [&](unsigned lengthField, int blocks) {
        Bytes plain(static_cast<std::size_t>(blocks) * 16, 0);
        plain[0] = static_cast<std::uint8_t>(lengthField);
        plain[1] = static_cast<std::uint8_t>(lengthField >> 8);
        plain[2] = 3;
        unsigned char buffer[1200] = {};
        std::memcpy(buffer, plain.data(), plain.size());
        for (int b = 0; b < blocks; ++b) {
            auto* block = reinterpret_cast<char*>(buffer + b * 16);
            cipher.EncryptBlock(block, block);
        }
        return openEnvelope(cipher, buffer, blocks * 16);
    };
    EXPECT_EQ(forged(14, 1), 14);
    EXPECT_EQ(forged(15, 1), 0) << "claims one byte more than arrived";
    EXPECT_EQ(forged(0, 1), 0);
    EXPECT_EQ(forged(1025, 65), 0) << "length field above the datagram limit";
    EXPECT_EQ(forged(1022, 64), 1022);
    EXPECT_EQ(forged(1023, 64), 0);
    EXPECT_EQ(forged(100, 65), 0) << "more than one datagram can carry";

    unsigned char buffer[32] = {};
    EXPECT_EQ(openEnvelope(cipher, buffer, 20), 0) << "not a multiple of 16";
    EXPECT_EQ(openEnvelope(cipher, buffer, 0), 0);
    CRijndael unkeyed;
    EXPECT_EQ(openEnvelope(unkeyed, buffer, 16), 0);
}
