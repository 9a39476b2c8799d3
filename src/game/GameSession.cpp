#include "game/GameSession.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/Clock.h"
#include "core/Conf.h"
#include "core/Log.h"
#include "net/ServerInterface.h"

namespace {

struct MapInfo {
    int clientType;
    const char* logLine;
};

// Indexed by GameMap - 1; the configuration check has refused any other value.
const MapInfo kMaps[] = {
    {2, "Map: Vice City : Deathmatch"},         {2, "Map: Vice City : Stunt"},
    {1, "Map: Liberty City : Portland"},        {1, "Map: Liberty City : Shore Side Vale"},
    {1, "Map: Liberty City : Staunton Island"},
};

void logLine(const std::string& text) { Log::getInstance()->writeToLog(text, true, true); }

}  // namespace

GameSession::GameSession() {
    Conf* conf = Conf::getInstance();
    bool listen = Log::getInstance()->getListenMode();

    int map = conf->getConfEntryValueAsInt("GameMap");
    if (map >= 1 && map <= 5) {
        m_clientType = kMaps[map - 1].clientType;
        m_mapNumber = map;
        if (!listen) logLine(kMaps[map - 1].logLine);
    }
    m_maxPlayers = conf->getConfEntryValueAsInt("MaxPlayers");
    if (!listen) logLine("Maximum Players: " + std::to_string(m_maxPlayers));
    readMotdUrl();
    logLine("");

    m_chatToLog = conf->getConfEntryValueAsInt("DoNotOutputChatToLog") != 1;
    std::srand(static_cast<unsigned>(Clock::wallSeconds()));
    m_gameHour = conf->getConfEntryValueAsInt("GameHour");
    m_gameMins = conf->getConfEntryValueAsInt("GameMins");
    m_randomWeather = conf->getConfEntryValueAsInt("RandomWeather") == 1;
}

GameSession::~GameSession() = default;

void GameSession::readMotdUrl() {
    Conf* conf = Conf::getInstance();
    std::memset(m_motdUrl, 0, sizeof(m_motdUrl));
    if (conf->getConfEntryValueCount("MOTDURL") != 1) return;
    // The join reply carries the field whole, so a longer address is cut to keep its final NUL.
    std::strncpy(m_motdUrl, conf->getConfEntryValue("MOTDURL"), sizeof(m_motdUrl) - 1);
    if (std::strncmp(m_motdUrl, "http://", 7) != 0) {
        logLine("ERROR: Rich MOTD URLs must begin include the initial http://.");
        std::memset(m_motdUrl, 0, sizeof(m_motdUrl));
        return;
    }
    if (!Log::getInstance()->getListenMode())
        logLine(std::string("Rich MOTD source: ") + m_motdUrl);
}

bool GameSession::loadMessageOfTheDay() {
    std::FILE* file = std::fopen("motd.txt", "r");
    if (file == nullptr) {
        m_motdLoaded = false;
        return false;
    }
    std::memset(m_motdPacket, 0, sizeof(m_motdPacket));
    m_motdPacket[0] = 21;
    std::size_t count = std::fread(m_motdPacket + 1, 1, kMotdPacketSize - 1, file);
    // The terminator lands on the last byte read, dropping the file's closing newline.
    if (count > 0) m_motdPacket[count] = 0;
    std::fclose(file);
    m_motdLoaded = true;
    return true;
}

void GameSession::processCommand(int command, const unsigned char* payload, const sockaddr_in* from,
                                 int length) {
    (void)payload;
    int id = -1;
    if (Conf::getInstance()->getConfEntryValueAsInt("DebugOutput") == 1) {
        char line[128];
        std::snprintf(line, sizeof(line),
                      "SERVER-DEBUG: processCommand: %d from '%s' (numbytes = %d) - %d", command,
                      ServerInterface::getAsciiAddress(from), length, id);
        logLine(line);
    }
}
