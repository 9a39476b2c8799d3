#include "game/GameSession.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/Clock.h"
#include "core/Conf.h"
#include "core/Log.h"
#include "net/AdminServer.h"
#include "net/GeneralKey.h"
#include "net/Server.h"

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

}  // namespace

GameSession::GameSession() : GameSession(*Server::getInstance(), *AdminServer::getInstance()) {}

GameSession::GameSession(ServerInterface& gameEndpoint, ServerInterface& adminEndpoint)
    : m_players(*PlayerList::getInstance()),
      m_gameEndpoint(gameEndpoint),
      m_adminEndpoint(adminEndpoint),
      m_gameBatch(gameEndpoint) {
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
    // The weather draw uses the runtime's generator; player keys come from the system instead.
    std::srand(static_cast<unsigned>(Clock::wallSeconds()));
    m_gameHour = conf->getConfEntryValueAsInt("GameHour");
    m_gameMins = conf->getConfEntryValueAsInt("GameMins");
    m_randomWeather = conf->getConfEntryValueAsInt("RandomWeather") == 1;
    m_testmode = conf->getConfEntryValueAsInt("Testmode") == 1;
    m_statLogging = conf->getConfEntryValueAsInt("StatLogging") == 1;

    for (int id = 0; id < kStatisticsSlots; ++id) resetStatistics(id);

    unsigned char key[kGeneralKeySize];
    if (loadGeneralKey(key) == GeneralKeyStatus::kOk) {
        m_generalCipher.MakeKey(reinterpret_cast<const char*>(key), CRijndael::sm_chain0, 16, 16);
    }
}

GameSession::~GameSession() { m_players.removeAllPlayers(); }

void GameSession::logLine(const std::string& text) const {
    Log::getInstance()->writeToLog(text, true, true);
}

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
    // A file that cannot be opened leaves the loaded message as it was.
    std::FILE* file = std::fopen("motd.txt", "r");
    if (file == nullptr) return false;
    // One byte is kept back so that the text always ends with its NUL.
    unsigned char read[kMotdPacketSize - 2];
    std::size_t count = std::fread(read, 1, sizeof(read), file);
    bool failed = std::ferror(file) != 0;
    std::fclose(file);
    // A name that opens but cannot be read (a folder) is no new message either.
    if (failed) return false;
    std::memset(m_motdPacket, 0, sizeof(m_motdPacket));
    m_motdPacket[0] = 21;
    std::memcpy(m_motdPacket + 1, read, count);
    char* text = reinterpret_cast<char*>(m_motdPacket + 1);
    if (count > 0 && text[count - 1] == '\n') {
        text[--count] = '\0';
        if (count > 0 && text[count - 1] == '\r') text[--count] = '\0';
    }
    m_motdLoaded = true;
    return true;
}

void GameSession::processCommand(int command, const unsigned char* payload, const sockaddr_in* from,
                                 int length) {
    int id = m_players.getPlayerID(from);
    if (id >= 0) {
        // Only a joined player's own key opens its datagrams, so this one proves the address.
        Player& player = m_players.getPlayerMap().find(id)->second;
        player.timeout = 0;
        player.confirmed = true;
    }
    if (Conf::getInstance()->getConfEntryValueAsInt("DebugOutput") == 1) {
        char line[160];
        std::snprintf(line, sizeof(line),
                      "SERVER-DEBUG: processCommand: %d from '%s' (numbytes = %d) - %d", command,
                      ServerInterface::getAsciiAddress(from), length, id);
        logLine(line);
    }
    if (command == 1) {
        handleJoinRequest(id, payload, from, length);
        return;
    }
    // Everything else is for joined players only.
    if (id < 0) return;
    switch (command) {
        case 2:
            return handleQuit(id);
        case 3:
            return handleChat(id, payload, length);
        case 4:
            return handlePingRequest(id);
        case 5:
            return handlePingReply(id, payload, length);
        case 10:
            return handleStateReport(id, payload, length);
        case 11:
            return handleDeath(id, payload, length);
        case 12:
            return handleScore(id, payload, length);
        case 19:
            return handleTrainer(id);
        case 20:
            return handleNickQuery(id, payload, length);
        case 23:
            return handleSkinChange(id, payload, length);
        case 24:
            return handleSkinQuery(id, payload, length);
        case 25:
            return handleClientCheckReply(id, payload, length);
        case 36:
            return handleMoney(id, payload, length);
        case 37:
            return handleDeathPosition(id, payload, length);
        case 41:
            return handleGameModeQuery(id);
        case 42:
            return handleGameModeChange(id, payload, length);
        default:
            return;
    }
}
