// The few game datagrams a scripted player sends and reads, built into caller buffers. Records
// carry their own bookkeeping (player index, sequence, send time) in tagged 4-byte values that
// the relay passes through unchanged.
#pragma once

#include <cstdint>

namespace zevload {

constexpr std::uint32_t kCheckValue = 0x5A17C3E9;
// The text of the general key every client knows in advance.
extern const char kGeneralKey[16];

// [1, '2', kind 0, check value, nick, '|', empty password NUL]. Returns the length, 0 when it
// does not fit.
int buildJoinRequest(unsigned char* out, int capacity, const char* nick);

struct JoinReply {
    int id = -1;
    unsigned char key[16] = {};
};

// What the reason byte of a refusal [6, reason] means, for messages.
const char* refusalText(int reason);

// Reads a join reply (code 1 with the key at 21..36). Returns false for anything else.
bool parseJoinReply(const unsigned char* data, int length, JoinReply* reply);

// The on-foot state report a player sends: code 10, selector 0, heading, tag 1 with the
// position, then tags 7, 8, 9 and 10 with the player index, the sequence number and the low and
// high halves of the send time in nanoseconds.
constexpr int kStateReportSize = 39;
int buildStateReport(unsigned char* out, std::uint32_t playerIndex, std::uint32_t sequence,
                     std::uint64_t sendNanos, float x, float y);

struct RecordStamp {
    std::uint32_t playerIndex = 0;
    std::uint32_t sequence = 0;
    std::uint64_t sendNanos = 0;
};

// Finds the stamp in a relayed state datagram whose state record starts at `recordOffset`: 2 for
// the server's relay [10, sender id, record], 1 for the floor, which forwards the sender's own
// [10, record]. False when the datagram is not one of our records.
bool parseRelayedRecord(const unsigned char* data, int length, int recordOffset,
                        RecordStamp* stamp);

// [5, b, v] with (v + id - nickLength + b) mod 2^32 equal to the check value.
constexpr int kPingReplySize = 6;
int buildPingReply(unsigned char* out, int id, int nickLength);

// [25, check value], the answer to a client check request.
constexpr int kCheckReplySize = 5;
int buildCheckReply(unsigned char* out);

}  // namespace zevload
