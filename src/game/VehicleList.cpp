#include "game/VehicleList.h"

VehicleList* VehicleList::s_instance = nullptr;

VehicleList* VehicleList::getInstance() {
    if (s_instance == nullptr) s_instance = new VehicleList();
    return s_instance;
}

VehicleList::~VehicleList() {
    if (s_instance == this) s_instance = nullptr;
}

void VehicleList::addVehicle(int id) { m_vehicles.try_emplace(id); }

bool VehicleList::doesVehicleExist(int id) const { return m_vehicles.find(id) != m_vehicles.end(); }

VehicleData* VehicleList::getVehicleData(int id) {
    auto it = m_vehicles.find(id);
    return it != m_vehicles.end() ? &it->second : nullptr;
}
