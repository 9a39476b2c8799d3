// A player's latest reported state: on foot or in a vehicle, heading, position and the small
// tagged values of the state records, as PlayerList's state-record operations fill it.
#pragma once

#include <cstdint>

struct VehicleData;

// Heading and the stateWord values are opaque 32-bit values copied bit for bit (NaN payloads
// included); stateByte values hold the sign-extended byte the client sent.
struct GameState {
    // Driver or passenger.
    bool inVehicle = false;
    bool isPassenger = false;
    // 1 to 100 in a vehicle, 0 on foot.
    std::uint8_t vehicleId = 0;
    // On-foot heading from the last on-foot record.
    std::uint32_t heading = 0;
    // On-foot x, y, z.
    float position[3] = {};
    std::uint32_t stateWordA = 0;
    // The shared record of `vehicleId` in VehicleList while in a vehicle; null on foot. Not owned.
    VehicleData* vehicle = nullptr;
    std::int32_t skin = 0;
    std::int32_t stateByteA = 0;
    std::int32_t stateByteB = 0;
    std::int32_t stateByteC = 0;
    std::int32_t stateByteD = 0;
    std::int32_t stateByteE = 0;
    std::int32_t stateByteF = 0;
    std::int32_t stateByteG = 0;
    std::int32_t stateByteH = 0;
    std::uint32_t stateWordB = 0;
    std::uint32_t stateWordC = 0;
    std::uint32_t stateWordD = 0;
};
