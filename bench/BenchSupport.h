// Shared pieces of the micro-benchmarks: a send endpoint that only counts, distinct player
// addresses, state records built byte by byte, and the singletons set up for a quiet session.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <string>

#include "core/Conf.h"
#include "core/Log.h"
#include "net/ServerInterface.h"

namespace bench {

// Counts what would be sent and sends nothing, one datagram at a time or in a batch, so a
// fan-out is measured without the kernel.
class CountingEndpoint : public ServerInterface {
public:
    std::int64_t datagrams = 0;
    std::int64_t bytes = 0;

protected:
    int transmit(const sockaddr_in* /*destination*/, const unsigned char* /*data*/,
                 int length) override {
        ++datagrams;
        bytes += length;
        return length;
    }
    void transmitBatch(const OutgoingDatagram* batch, int count, int* sent) override {
        for (int i = 0; i < count; ++i) {
            ++datagrams;
            bytes += batch[i].length;
            sent[i] = batch[i].length;
        }
    }
};

// 10.0.x.y:7000 + index, one per player index.
inline sockaddr_in playerAddress(int index) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(7000 + index));
    address.sin_addr.s_addr = htonl(0x0A000000u | static_cast<std::uint32_t>(index + 1));
    return address;
}

// Writes `value` as 4 little-endian bytes at `out`.
inline void putFloat(unsigned char* out, float value) {
    std::uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof(bits));
    for (int i = 0; i < 4; ++i) out[i] = static_cast<unsigned char>(bits >> (8 * i));
}

// Selector 0, heading, tag 1 with (x, y, 7), tag 2 with 5: the 20-byte on-foot record.
inline std::array<unsigned char, 20> onFootRecord(float x, float y) {
    std::array<unsigned char, 20> record{};
    record[0] = 0;
    putFloat(&record[1], 1.5f);
    record[5] = 1;
    putFloat(&record[6], x);
    putFloat(&record[10], y);
    putFloat(&record[14], 7.0f);
    record[18] = 2;
    record[19] = 5;
    return record;
}

// Selector `vehicle` (a driver), heading, then the client type's vehicle-position tag with
// (x, y, 3): the 18-byte driver record.
inline std::array<unsigned char, 18> driverRecord(int vehicle, unsigned char positionTag, float x,
                                                  float y) {
    std::array<unsigned char, 18> record{};
    record[0] = static_cast<unsigned char>(vehicle);
    putFloat(&record[1], 0.25f);
    record[5] = positionTag;
    putFloat(&record[6], x);
    putFloat(&record[10], y);
    putFloat(&record[14], 3.0f);
    return record;
}

// GTA3 numbering of the vehicle tags and GTA:VC's.
constexpr unsigned char kGta3VehiclePositionTag = 14;
constexpr unsigned char kGtaVcVehiclePositionTag = 13;

// A silent log and the settings a GameSession on a GTA3 map reads; no send limit.
inline void setUpQuietSession(int maxPlayers) {
    Log::getInstance()->setConsole(nullptr);
    Conf* conf = Conf::getInstance();
    conf->addConfEntry("GameMap", "3");
    conf->addConfEntry("MaxPlayers", std::to_string(maxPlayers));
    conf->addConfEntry("GameHour", "12");
    conf->addConfEntry("GameMins", "0");
}

}  // namespace bench
