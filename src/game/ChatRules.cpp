#include "game/ChatRules.h"

#include <algorithm>
#include <cstring>

#include "net/ByteWriter.h"

namespace {

constexpr int kMaxChatDatagram = 129;
constexpr std::size_t kMaxChatText = 128;
constexpr std::size_t kMaxRecipientList = 255;
constexpr std::size_t kMaxRecipients = 3;
constexpr std::size_t kMaxToken = 12;

}  // namespace

bool startsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

std::string cleanChatText(const unsigned char* payload, int length) {
    std::string text;
    int limit = std::min(length, kMaxChatDatagram) - 2;
    int offset = 1;
    while (text.size() < kMaxChatText && offset < limit) {
        unsigned char byte = payload[offset];
        if (byte == 0x02) {
            offset += 6;
            continue;
        }
        if (byte >= 0x20 && byte < 0x7F) text.push_back(static_cast<char>(byte));
        ++offset;
    }
    return text;
}

PrivateMessage parsePrivateMessage(const std::string& line) {
    PrivateMessage message;
    const std::size_t start = 5;
    if (line.size() <= start) return message;
    std::size_t space = line.find(' ', start);
    std::size_t end =
        std::min(space == std::string::npos ? line.size() : space, start + kMaxRecipientList);
    if (space != std::string::npos && space == end) message.text = line.substr(space + 1);
    if (end == start) return message;

    std::string token;
    bool ended = false;
    for (std::size_t i = start; i < end && !ended; ++i) {
        if (line[i] == ',') {
            message.recipients.push_back(token);
            token.clear();
            ended = message.recipients.size() == kMaxRecipients;
            continue;
        }
        token.push_back(line[i]);
        ended = token.size() == kMaxToken;
    }
    if (message.recipients.size() < kMaxRecipients) message.recipients.push_back(token);
    return message;
}

int parseRecipientNumber(const std::string& token, int maxPlayers) {
    if (token.size() < 2 || token[0] != '#') return -1;
    long value = 0;
    for (std::size_t i = 1; i < token.size(); ++i) {
        char c = token[i];
        if (c < '0' || c > '9') return -1;
        value = value * 10 + (c - '0');
        if (value > maxPlayers) return -1;
    }
    return static_cast<int>(value);
}

int writeChatLine(unsigned char* out, std::size_t capacity, int senderId, int type,
                  const char* prefix, const std::string& text) {
    ByteWriter writer(out, capacity);
    writer.u8(3);
    writer.u8(static_cast<std::uint8_t>(senderId));
    writer.u8(static_cast<std::uint8_t>(type));
    writer.bytes(prefix, std::strlen(prefix));
    writer.bytes(text.data(), text.size());
    writer.u8(0);
    return writer.ok() ? static_cast<int>(writer.size()) : 0;
}
