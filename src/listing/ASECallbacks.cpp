#include <string>

#include "core/Conf.h"
#include "core/Log.h"
#include "game/PlayerList.h"
#include "listing/ASEQuery.h"

namespace {

struct MapListing {
    const char* gameType;
    const char* mapName;
};

// Indexed by GameMap - 1.
const MapListing kMaps[] = {
    {"ZEV:VC", "Vice City : Deathmatch"},           {"ZEV:VC", "Vice City : Stunt"},
    {"GTA3:ZEV", "Liberty City : Portland"},        {"GTA3:ZEV", "Liberty City : Shore Side Vale"},
    {"GTA3:ZEV", "Liberty City : Staunton Island"},
};

}  // namespace

void ASEQuery_wantstatus() {
    Conf* conf = Conf::getInstance();
    int map = conf->getConfEntryValueAsInt("GameMap");
    const MapListing* listing = map >= 1 && map <= 5 ? &kMaps[map - 1] : nullptr;
    ASEQuery_status(conf->getConfEntryValue("ServerName"),
                    listing != nullptr ? listing->gameType : nullptr,
                    listing != nullptr ? listing->mapName : nullptr, "0.5",
                    conf->getConfEntryValueAsInt("ServerPasswordEnabled") == 1 ? 1 : 0,
                    PlayerList::getInstance()->getPlayerConnectedCount(),
                    conf->getConfEntryValueAsInt("MaxPlayers"));
}

void ASEQuery_wantrules() {
    ASEQuery_addrule("Patch1Installed", "yes");
    ASEQuery_addrule("ListenServer", Log::getInstance()->getListenMode() ? "yes" : "no");
}

void ASEQuery_wantplayers() {
    PlayerList* players = PlayerList::getInstance();
    for (auto it = players->getIteratorBegin(); it != players->getIteratorEnd(); ++it) {
        if (!it->second.connected) continue;
        std::string score = std::to_string(it->second.score);
        std::string ping = std::to_string(players->getPlayerPing(it->first));
        ASEQuery_addplayer(it->second.nick, "", "", score.c_str(), ping.c_str(), "");
    }
}
