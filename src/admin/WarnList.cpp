#include "admin/WarnList.h"

#include <list>
#include <string>
#include <unordered_map>

#include "admin/Ban.h"
#include "core/Log.h"

namespace {

struct Warning {
    std::string addressText;
    unsigned count = 0;
};

constexpr unsigned kAttemptsBeforeBan = 9;

// Oldest address first.
std::list<Warning> g_warnings;
std::unordered_map<std::string, std::list<Warning>::iterator> g_byAddress;
std::size_t g_capacity = kWarnListCapacity;

void makeRoom() {
    auto victim = g_warnings.begin();
    for (auto it = g_warnings.begin(); it != g_warnings.end(); ++it) {
        if (!Ban::getInstance()->isBanned(it->addressText.c_str())) {
            victim = it;
            break;
        }
    }
    g_byAddress.erase(victim->addressText);
    g_warnings.erase(victim);
}

}  // namespace

int AddToWarnList(const char* addressText, const sockaddr_in* address) {
    auto found = g_byAddress.find(addressText);
    if (found == g_byAddress.end()) {
        if (g_warnings.size() >= g_capacity && !g_warnings.empty()) makeRoom();
        g_warnings.push_back(Warning{addressText, 0});
        found = g_byAddress.emplace(addressText, std::prev(g_warnings.end())).first;
    }
    unsigned count = ++found->second->count;
    if (count <= kAttemptsBeforeBan) return static_cast<int>(count);
    if (!Ban::getInstance()->addAutomaticIP(address)) return static_cast<int>(count);
    Log::getInstance()->writeToLog(
        std::string("BANNED: '") + addressText + "', Too many bad admin password attempts.", true,
        true);
    return kWarnListBanned;
}

void ResetWarnList(std::size_t capacity) {
    g_warnings.clear();
    g_byAddress.clear();
    g_capacity = capacity == 0 ? 1 : capacity;
}

std::size_t WarnListSize() { return g_warnings.size(); }
