// The pure rules of chat: cleaning a chat line and reading a private message's recipients.
#pragma once

#include <string>
#include <vector>

// Whether `text` begins with `prefix` (chat commands such as "/msg ").
bool startsWith(const std::string& text, const char* prefix);

// The printable text of a chat datagram (`length` bytes in all, `payload` the bytes after the
// command byte; payload byte 0 is the chat type). A datagram longer than 129 bytes counts as
// 129; a 0x02 byte drops itself and the five colour bytes after it; other control and
// non-ASCII bytes are dropped; the datagram's last byte is never text. At most 126 characters.
std::string cleanChatText(const unsigned char* payload, int length);

struct PrivateMessage {
    std::vector<std::string> recipients;  // at most three tokens of at most 12 characters
    std::string text;                     // what follows the recipient list and its space
};

// Reads a line that starts with "/msg ": the recipient list runs to the next space; commas
// separate up to three tokens, and a token that reaches 12 characters ends the list.
PrivateMessage parsePrivateMessage(const std::string& line);

// Writes the chat packet [3, sender id, type, prefix, text, NUL] to `out` and returns its
// length, or 0 when it does not fit `capacity`.
int writeChatLine(unsigned char* out, std::size_t capacity, int senderId, int type,
                  const char* prefix, const std::string& text);

// The player id of a "#digits" token when it is 0 to `maxPlayers`; -1 for anything else
// (including a number too large to hold).
int parseRecipientNumber(const std::string& token, int maxPlayers);
