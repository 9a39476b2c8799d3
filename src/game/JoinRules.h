// The pure rules of the join request: reading the nick and password, and reserved nicks.
#pragma once

#include <cstddef>
#include <string>

constexpr std::size_t kMaxNickLength = 12;

struct JoinNick {
    std::string nick;      // printable characters only, at most kMaxNickLength
    std::string password;  // the bytes after the nick up to a NUL or the datagram's end
};

// Reads the nick and password of a join request from its payload (`payloadSize` bytes, the
// datagram after its command byte). The nick starts at payload offset 6: a 0x02 byte skips
// itself and six more, other control and non-ASCII bytes are skipped, and reading stops at
// "|", after 12 characters, or before the payload's last byte. The password starts one byte
// after the stop.
JoinNick readJoinNick(const unsigned char* payload, std::size_t payloadSize);

// "admin" in any case, or a bracketed "ZEV" tag such as "[ZEV]" unless `clientKind` is 3.
bool isReservedNick(const std::string& nick, int clientKind);
