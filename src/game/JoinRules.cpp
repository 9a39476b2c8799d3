#include "game/JoinRules.h"

#include <cctype>

namespace {

bool isOneOf(char c, const char* set) {
    for (; *set != '\0'; ++set) {
        if (*set == c) return true;
    }
    return false;
}

bool equalsIgnoringCase(char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) ==
           std::tolower(static_cast<unsigned char>(b));
}

}  // namespace

JoinNick readJoinNick(const unsigned char* payload, std::size_t payloadSize) {
    JoinNick result;
    constexpr std::size_t kNickOffset = 6;
    // The last payload byte never belongs to the nick.
    std::size_t end = payloadSize >= 1 ? payloadSize - 1 : 0;
    std::size_t position = kNickOffset;
    while (position < end) {
        unsigned char byte = payload[position];
        if (byte == '|' || result.nick.size() == kMaxNickLength) break;
        if (byte == 0x02) {
            position += 7;
            continue;
        }
        if (byte >= 0x20 && byte < 0x7F) result.nick.push_back(static_cast<char>(byte));
        ++position;
    }
    for (std::size_t i = position + 1; i < payloadSize && payload[i] != 0; ++i) {
        result.password.push_back(static_cast<char>(payload[i]));
    }
    return result;
}

bool isReservedNick(const std::string& nick, int clientKind) {
    if (nick.size() < 5) return false;
    const char* admin = "admin";
    bool isAdmin = true;
    for (int i = 0; i < 5 && isAdmin; ++i) isAdmin = equalsIgnoringCase(nick[i], admin[i]);
    if (isAdmin) return true;
    bool isTag = isOneOf(nick[0], "[{(") && equalsIgnoringCase(nick[1], 'z') &&
                 equalsIgnoringCase(nick[2], 'e') && equalsIgnoringCase(nick[3], 'v') &&
                 isOneOf(nick[4], "]})");
    return isTag && clientKind != 3;
}
