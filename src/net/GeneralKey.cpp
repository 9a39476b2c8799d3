#include "net/GeneralKey.h"

#include <cstdint>
#include <cstring>

#include "core/Conf.h"

namespace {

constexpr std::size_t kTextSize = 255;

// "ZevServerGenKey1", scrambled by obfuscateString with the offset 0x5D.
const unsigned char kStoredRecord[] = {
    0x10, 0x00, 0x00, 0x00, 0x2F, 0x3A, 0x4B, 0x29, 0x3A, 0x47, 0x4C, 0x3B,
    0x47, 0x1D, 0x3A, 0x43, 0x21, 0x3A, 0x4E, 0x07, 0x20, 0x06, 0x5D,
};

// The part of the running value that feeds the next character.
unsigned char feed(std::int32_t s) {
    return static_cast<unsigned char>((static_cast<std::uint32_t>(s) >> 6) & 0xFF);
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool parseHexKey(const char* text, unsigned char key[kGeneralKeySize]) {
    if (std::strlen(text) != 2 * kGeneralKeySize) return false;
    for (std::size_t i = 0; i < kGeneralKeySize; ++i) {
        int high = hexDigit(text[2 * i]);
        int low = hexDigit(text[2 * i + 1]);
        if (high < 0 || low < 0) return false;
        key[i] = static_cast<unsigned char>(high * 16 + low);
    }
    return true;
}

}  // namespace

const char* deobfuscateString(const unsigned char* record, std::size_t recordSize, char* out) {
    std::memset(out, 0, kTextSize);
    if (recordSize < 1) return nullptr;
    int count = static_cast<signed char>(record[0]);
    if (count < 0 || static_cast<std::size_t>(count) + 7 > recordSize) return nullptr;
    const unsigned char offset = record[count + 6];
    std::int32_t s = 0;
    std::int32_t sum = 0;
    std::size_t length = 0;
    for (int i = 4; i < count + 4; ++i) {
        auto c = static_cast<unsigned char>(record[i] + offset - feed(s) - 50);
        if (c != 0 && length < kTextSize - 1) out[length++] = static_cast<char>(c);
        sum += static_cast<signed char>(c);
        s = static_cast<signed char>(c) - static_cast<signed char>(offset) + 50;
    }
    std::uint32_t checksum = record[count + 4] | (record[count + 5] << 8);
    if (sum < 0 || static_cast<std::uint32_t>(sum) != checksum) return nullptr;
    return out;
}

std::size_t obfuscateString(const char* text, unsigned char offset, unsigned char* record,
                            std::size_t capacity) {
    std::size_t count = std::strlen(text);
    if (count > 127 || count + 7 > capacity) return 0;
    std::memset(record, 0, count + 7);
    record[0] = static_cast<unsigned char>(count);
    std::int32_t s = 0;
    std::int32_t sum = 0;
    for (std::size_t i = 0; i < count; ++i) {
        auto c = static_cast<unsigned char>(text[i]);
        record[i + 4] = static_cast<unsigned char>(c - offset + feed(s) + 50);
        sum += static_cast<signed char>(c);
        s = static_cast<signed char>(c) - static_cast<signed char>(offset) + 50;
    }
    record[count + 4] = static_cast<unsigned char>(sum & 0xFF);
    record[count + 5] = static_cast<unsigned char>((sum >> 8) & 0xFF);
    record[count + 6] = offset;
    return count + 7;
}

GeneralKeyStatus loadGeneralKey(unsigned char key[kGeneralKeySize]) {
    const char* setting = Conf::getInstance()->getConfEntryValue("GeneralKey");
    if (Conf::getInstance()->isConfEntrySet("GeneralKey")) {
        if (setting == nullptr || !parseHexKey(setting, key)) return GeneralKeyStatus::kBadSetting;
        return GeneralKeyStatus::kOk;
    }
    char text[kTextSize];
    if (deobfuscateString(kStoredRecord, sizeof(kStoredRecord), text) == nullptr) {
        return GeneralKeyStatus::kDamagedRecord;
    }
    // The key is the first 16 characters of the text, zero-padded when it is shorter.
    std::memcpy(key, text, kGeneralKeySize);
    return GeneralKeyStatus::kOk;
}
