#include "admin/AdminRules.h"

#include <algorithm>

namespace {

constexpr std::size_t kBanAddressField = 20;
constexpr std::size_t kMinBanAddress = 7;

}  // namespace

AdminLogin readAdminLogin(const unsigned char* payload, std::size_t size) {
    AdminLogin login;
    if (size < 2) return login;
    login.level = payload[1];
    login.wellFormed = payload[0] == '0' && (login.level == 1 || login.level == 2);
    std::size_t position = 2;
    while (position < size && payload[position] != '|' && login.nick.size() < kMaxAdminNickLength) {
        unsigned char byte = payload[position++];
        if (byte >= 0x20 && byte <= 0x7E) login.nick.push_back(static_cast<char>(byte));
    }
    if (position < size)
        login.password = readText(payload + position + 1, size - position - 1, size);
    return login;
}

std::string readText(const unsigned char* payload, std::size_t size, std::size_t maxLength) {
    std::string text;
    std::size_t limit = std::min(size, maxLength);
    for (std::size_t i = 0; i < limit && payload[i] != 0; ++i) {
        text.push_back(static_cast<char>(payload[i]));
    }
    return text;
}

std::string filterBanAddress(const unsigned char* payload, std::size_t size) {
    std::string kept;
    std::size_t limit = std::min(size, kBanAddressField);
    for (std::size_t i = 0; i < limit && payload[i] != 0; ++i) {
        char c = static_cast<char>(payload[i]);
        if ((c >= '0' && c <= '9') || c == '.') kept.push_back(c);
    }
    return kept.size() < kMinBanAddress ? std::string() : kept;
}
