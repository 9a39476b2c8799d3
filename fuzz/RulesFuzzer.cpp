// The cleaners of text from the wire: the join nick and password, the admin login, chat lines,
// private-message recipients and the ban-address filter, each on an exact-size copy of the bytes
// and checked against the bounds its contract promises.
//
// Input: a selector byte (its value modulo 7 picks the rule), a parameter byte (the join's
// client kind, MaxPlayers modulo 33, or readText's bound), then the bytes the rule reads.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "admin/AdminRules.h"
#include "game/ChatRules.h"
#include "game/JoinRules.h"

namespace {

bool printable(const std::string& text) {
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte > 0x7E) return false;
    }
    return true;
}

bool hasNul(const std::string& text) { return text.find('\0') != std::string::npos; }

bool startsWithIgnoringCase(const std::string& text, const char* prefix) {
    for (std::size_t i = 0; prefix[i] != '\0'; ++i) {
        if (i >= text.size()) return false;
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
    }
    return true;
}

// "admin" in any case, or an opening bracket, "zev" in any case and a closing bracket, unless
// the client kind is 3; only nicks of five or more characters.
bool expectedReserved(const std::string& nick, int kind) {
    if (nick.size() < 5) return false;
    if (startsWithIgnoringCase(nick, "admin")) return true;
    auto opening = [](char c) { return c == '[' || c == '{' || c == '('; };
    auto closing = [](char c) { return c == ']' || c == '}' || c == ')'; };
    return kind != 3 && opening(nick[0]) && startsWithIgnoringCase(nick.substr(1), "zev") &&
           closing(nick[4]);
}

void joinNick(fuzz::HeapBytes& payload, int kind) {
    JoinNick read = readJoinNick(payload.data(), payload.size());
    FUZZ_CHECK(read.nick.size() <= kMaxNickLength && printable(read.nick));
    FUZZ_CHECK(read.nick.find('|') == std::string::npos);
    FUZZ_CHECK(!hasNul(read.password) && read.password.size() <= payload.size());
    FUZZ_CHECK(isReservedNick(read.nick, kind) == expectedReserved(read.nick, kind));
}

void adminLogin(fuzz::HeapBytes& payload) {
    AdminLogin login = readAdminLogin(payload.data(), payload.size());
    bool wellFormed = payload.size() >= 2 && payload.data()[0] == '0' &&
                      (payload.data()[1] == 1 || payload.data()[1] == 2);
    FUZZ_CHECK(login.wellFormed == wellFormed);
    if (wellFormed) FUZZ_CHECK(login.level == payload.data()[1]);
    FUZZ_CHECK(login.nick.size() <= kMaxAdminNickLength && printable(login.nick));
    FUZZ_CHECK(login.nick.find('|') == std::string::npos);
    FUZZ_CHECK(!hasNul(login.password) && login.password.size() <= payload.size());
}

void chat(fuzz::HeapBytes& payload) {
    // `length` counts the command byte, so the payload is one byte shorter.
    std::string text = cleanChatText(payload.data(), static_cast<int>(payload.size()) + 1);
    FUZZ_CHECK(text.size() <= 126 && printable(text));
}

void privateMessage(fuzz::HeapBytes& payload, int maxPlayers) {
    std::string line = "/msg " + std::string(payload.data(), payload.data() + payload.size());
    PrivateMessage message = parsePrivateMessage(line);
    FUZZ_CHECK(message.recipients.size() <= 3);
    for (const std::string& token : message.recipients) {
        FUZZ_CHECK(token.size() <= 12);
        FUZZ_CHECK(token.find(',') == std::string::npos && token.find(' ') == std::string::npos);
        int id = parseRecipientNumber(token, maxPlayers);
        FUZZ_CHECK(id >= -1 && id <= maxPlayers);
        if (id >= 0) {
            FUZZ_CHECK(token.size() >= 2 && token[0] == '#');
            FUZZ_CHECK(token.find_first_not_of("0123456789", 1) == std::string::npos);
        }
    }
    FUZZ_CHECK(message.text.size() <= line.size());
    FUZZ_CHECK(line.compare(line.size() - message.text.size(), message.text.size(), message.text) ==
               0);
}

void recipientNumber(fuzz::HeapBytes& payload, int maxPlayers) {
    std::string token(payload.data(), payload.data() + payload.size());
    int id = parseRecipientNumber(token, maxPlayers);
    FUZZ_CHECK(id >= -1 && id <= maxPlayers);
    if (id < 0) return;
    FUZZ_CHECK(token.size() >= 2 && token[0] == '#');
    FUZZ_CHECK(token.find_first_not_of("0123456789", 1) == std::string::npos);
}

void banAddress(fuzz::HeapBytes& payload) {
    std::string kept = filterBanAddress(payload.data(), payload.size());
    FUZZ_CHECK(kept.empty() || (kept.size() >= 7 && kept.size() <= 20));
    FUZZ_CHECK(kept.find_first_not_of("0123456789.") == std::string::npos);
}

void text(fuzz::HeapBytes& payload, std::size_t maxLength) {
    std::string read = readText(payload.data(), payload.size(), maxLength);
    FUZZ_CHECK(read.size() <= maxLength && read.size() <= payload.size() && !hasNul(read));
    FUZZ_CHECK(read.compare(0, read.size(), reinterpret_cast<const char*>(payload.data()),
                            read.size()) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::FuzzInput input(data, size);
    std::uint8_t selector = input.u8();
    std::uint8_t parameter = input.u8();
    fuzz::HeapBytes payload(input.rest());
    switch (selector % 7) {
        case 0:
            joinNick(payload, static_cast<signed char>(parameter));
            break;
        case 1:
            adminLogin(payload);
            break;
        case 2:
            chat(payload);
            break;
        case 3:
            privateMessage(payload, parameter % 33);
            break;
        case 4:
            recipientNumber(payload, parameter % 33);
            break;
        case 5:
            banAddress(payload);
            break;
        default:
            text(payload, parameter);
            break;
    }
    return 0;
}
