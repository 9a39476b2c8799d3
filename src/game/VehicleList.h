// The shared per-vehicle records: every occupant of a vehicle writes the same record, and the
// relay reads it. Records are created the first time a state record names a vehicle and stay for
// the life of the list, so players may keep pointers to them.
#pragma once

#include <cstdint>
#include <map>

// Heading and secondVector are opaque 32-bit values copied bit for bit (NaN payloads included);
// only position is read as floats, by the visibility test.
struct VehicleData {
    // Kept for the record's layout; nothing writes or reads it.
    float reservedVector[3] = {};
    std::uint32_t heading = 0;
    // x, y, z.
    float position[3] = {};
    std::uint32_t secondVector[3] = {};
};

class VehicleList {
public:
    // The list, created empty on first use; delete it to destroy it (the next call builds a fresh
    // one, and every VehicleData pointer handed out before is then dangling).
    static VehicleList* getInstance();

    ~VehicleList();

    VehicleList(const VehicleList&) = delete;
    VehicleList& operator=(const VehicleList&) = delete;

    // Inserts an all-zero record when `id` is not present; otherwise leaves the record as it is.
    void addVehicle(int id);
    bool doesVehicleExist(int id) const;
    // The record of `id`, valid for the life of the list; null when absent.
    VehicleData* getVehicleData(int id);

private:
    VehicleList() = default;

    static VehicleList* s_instance;
    // A node-based map, so records never move when others are added.
    std::map<int, VehicleData> m_vehicles;
};
