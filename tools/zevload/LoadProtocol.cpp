#include "LoadProtocol.h"

#include <cstring>

#include "net/ByteReader.h"
#include "net/ByteWriter.h"

namespace zevload {

const char kGeneralKey[16] = {'Z', 'e', 'v', 'S', 'e', 'r', 'v', 'e',
                              'r', 'G', 'e', 'n', 'K', 'e', 'y', '1'};

namespace {

constexpr unsigned char kTagPosition = 1;
constexpr unsigned char kTagIndex = 7;
constexpr unsigned char kTagSequence = 8;
constexpr unsigned char kTagTimeLow = 9;
constexpr unsigned char kTagTimeHigh = 10;

}  // namespace

int buildJoinRequest(unsigned char* out, int capacity, const char* nick) {
    ByteWriter writer(out, static_cast<std::size_t>(capacity));
    writer.u8(1);
    writer.u8('2');
    writer.u8(0);
    writer.u32(kCheckValue);
    writer.bytes(nick, std::strlen(nick));
    writer.u8('|');
    writer.u8(0);
    return writer.ok() ? static_cast<int>(writer.size()) : 0;
}

const char* refusalText(int reason) {
    switch (reason) {
        case 0:
            return "nick already in use";
        case 1:
            return "address banned";
        case 2:
            return "already joined";
        case 4:
            return "wrong password";
        case 6:
            return "wrong version";
        case 7:
            return "server full";
        case 8:
            return "check value wrong";
        case 10:
            return "reserved nick";
        case 12:
            return "join flood from this address";
        default:
            return "refused";
    }
}

bool parseJoinReply(const unsigned char* data, int length, JoinReply* reply) {
    ByteReader reader(data, static_cast<std::size_t>(length));
    std::uint8_t code = reader.u8();
    reader.skip(3);
    std::uint8_t id = reader.u8();
    reader.skip(16);
    reader.bytes(reply->key, sizeof(reply->key));
    if (!reader.ok() || code != 1) return false;
    reply->id = id;
    return true;
}

int buildStateReport(unsigned char* out, std::uint32_t playerIndex, std::uint32_t sequence,
                     std::uint64_t sendNanos, float x, float y) {
    ByteWriter writer(out, kStateReportSize);
    writer.u8(10);
    writer.u8(0);  // on foot: every other player gets the full record
    writer.f32(0.0f);
    writer.u8(kTagPosition);
    writer.f32(x);
    writer.f32(y);
    writer.f32(0.0f);
    writer.u8(kTagIndex);
    writer.u32(playerIndex);
    writer.u8(kTagSequence);
    writer.u32(sequence);
    writer.u8(kTagTimeLow);
    writer.u32(static_cast<std::uint32_t>(sendNanos));
    writer.u8(kTagTimeHigh);
    writer.u32(static_cast<std::uint32_t>(sendNanos >> 32));
    return static_cast<int>(writer.size());
}

bool parseRelayedRecord(const unsigned char* data, int length, int recordOffset,
                        RecordStamp* stamp) {
    ByteReader reader(data, static_cast<std::size_t>(length));
    std::uint8_t code = reader.u8();
    reader.skip(static_cast<std::size_t>(recordOffset - 1));
    std::uint8_t selector = reader.u8();
    reader.skip(4);
    std::uint8_t position = reader.u8();
    reader.skip(12);
    std::uint8_t tagIndex = reader.u8();
    std::uint32_t index = reader.u32();
    std::uint8_t tagSequence = reader.u8();
    std::uint32_t sequence = reader.u32();
    std::uint8_t tagLow = reader.u8();
    std::uint32_t low = reader.u32();
    std::uint8_t tagHigh = reader.u8();
    std::uint32_t high = reader.u32();
    if (!reader.ok() || reader.remaining() != 0 || code != 10 || selector != 0 ||
        position != kTagPosition || tagIndex != kTagIndex || tagSequence != kTagSequence ||
        tagLow != kTagTimeLow || tagHigh != kTagTimeHigh) {
        return false;
    }
    stamp->playerIndex = index;
    stamp->sequence = sequence;
    stamp->sendNanos = static_cast<std::uint64_t>(high) << 32 | low;
    return true;
}

int buildPingReply(unsigned char* out, int id, int nickLength) {
    // With b = 0 the check leaves v = check value - id + nick length, taken modulo 2^32.
    std::uint32_t value =
        kCheckValue - static_cast<std::uint32_t>(id) + static_cast<std::uint32_t>(nickLength);
    ByteWriter writer(out, kPingReplySize);
    writer.u8(5);
    writer.u8(0);
    writer.u32(value);
    return static_cast<int>(writer.size());
}

int buildCheckReply(unsigned char* out) {
    ByteWriter writer(out, kCheckReplySize);
    writer.u8(25);
    writer.u32(kCheckValue);
    return static_cast<int>(writer.size());
}

}  // namespace zevload
