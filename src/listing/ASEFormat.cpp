#include "listing/ASEFormat.h"

#include <cstring>

namespace {

constexpr std::size_t kMaxFieldText = 254;
constexpr std::uint32_t kIntervalCeiling = 1799999;
constexpr std::uint32_t kFallbackInterval = 120000;
constexpr std::uint32_t kFallbackPause = 86400000;

// This project's own verification values. They cannot match the listing service's, which are
// not ours to know; they only keep the answer a keyed hash of the challenge.
constexpr std::uint32_t kVerifyStartA = 0x5A45564Du;
constexpr std::uint32_t kVerifyStartH = 0x4C495354u;
constexpr std::uint32_t kVerifyK1 = 0x9E3779B9u;
constexpr std::uint32_t kVerifyK2 = 0x7F4A7C15u;

}  // namespace

bool aseAppendString(unsigned char* buffer, std::size_t* position, std::size_t limit,
                     const char* text) {
    std::size_t length = text == nullptr ? 0 : strnlen(text, kMaxFieldText);
    if (*position + 1 + length > limit) return false;
    buffer[*position] = static_cast<unsigned char>(length + 1);
    if (length > 0) std::memcpy(buffer + *position + 1, text, length);
    *position += 1 + length;
    return true;
}

bool aseAppendNumber(unsigned char* buffer, std::size_t* position, std::size_t limit, long value) {
    return aseAppendString(buffer, position, limit, std::to_string(value).c_str());
}

std::vector<std::vector<std::uint8_t>> aseFragments(const unsigned char* reply, std::size_t length,
                                                    std::uint32_t fragmentId) {
    std::vector<std::vector<std::uint8_t>> fragments;
    if (length <= kAseMaxUnfragmented) {
        fragments.emplace_back(reply, reply + length);
        return fragments;
    }
    const unsigned char idBytes[4] = {
        static_cast<unsigned char>(fragmentId), static_cast<unsigned char>(fragmentId >> 8),
        static_cast<unsigned char>(fragmentId >> 16), static_cast<unsigned char>(fragmentId >> 24)};
    // The first fragment's header is the reply's own "EYE1".
    unsigned char digit = length >= 4 ? reply[3] : '1';
    std::size_t offset = 4;
    bool lastWasFull = false;
    while (offset < length) {
        std::size_t count = std::min(kAseFragmentPayload, length - offset);
        std::vector<std::uint8_t> fragment = {'E', 'Y', 'E', digit};
        fragment.insert(fragment.end(), reply + offset, reply + offset + count);
        fragment.insert(fragment.end(), idBytes, idBytes + 4);
        fragments.push_back(fragment);
        offset += count;
        lastWasFull = count == kAseFragmentPayload;
        ++digit;
    }
    if (lastWasFull) {
        std::vector<std::uint8_t> closing = {'E', 'Y', 'E', digit, 0x00};
        closing.insert(closing.end(), idBytes, idBytes + 4);
        fragments.push_back(closing);
    }
    return fragments;
}

void aseBuildVerificationTable(AseVerificationTable& table, std::uint32_t* seed) {
    unsigned char bytes[256][8];
    for (int row = 0; row < 256; ++row) std::memset(bytes[row], row, 8);
    std::uint32_t x = *seed;
    for (int d = 0; d < 256; ++d) {
        for (int c = 0; c < 8; ++c) {
            x = 214013u * x + 2531011u;
            int k = static_cast<int>(((x >> 16) & 0x7FFF) % static_cast<std::uint32_t>(256 - d));
            std::swap(bytes[d][c], bytes[d + k][c]);
        }
    }
    *seed = x;
    for (int row = 0; row < 256; ++row) {
        std::memcpy(&table.rows[row][0], bytes[row], 4);
        std::memcpy(&table.rows[row][1], bytes[row] + 4, 4);
    }
}

std::uint32_t aseVerify(const AseVerificationTable& table, const unsigned char challenge[8]) {
    std::uint32_t a = kVerifyStartA;
    std::uint32_t h = kVerifyStartH;
    for (int i = 0; i < 8; ++i) {
        const std::uint32_t* row = table.rows[(a ^ challenge[i]) & 0xFF];
        std::uint32_t nextA = (a >> 8) ^ row[0] ^ ((h << 24) + kVerifyK1);
        std::uint32_t nextH = (h >> 8) ^ row[1] ^ ((a << 24) + kVerifyK2);
        a = nextA;
        h = nextH;
    }
    return a + h;
}

bool AseHeartbeatSchedule::take(std::uint32_t now, bool fallback) {
    if (!m_started) {
        m_started = true;
        m_next = now;
    }
    if (static_cast<std::int32_t>(now - m_next) < 0) return false;
    m_next = now + m_interval;
    if (m_interval <= kIntervalCeiling) m_interval *= 2;
    if (fallback && m_interval == kFallbackInterval) m_next = now + kFallbackPause;
    return true;
}

std::string aseHeartbeatText(int queryPort, const char* gameName) {
    return "\\hb\\" + std::to_string(queryPort) + "\\" + gameName;
}
