#include <arpa/inet.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "admin/Ban.h"
#include "core/Clock.h"
#include "core/Conf.h"
#include "core/Log.h"
#include "game/GameSession.h"
#include "net/ByteWriter.h"

namespace {

// Client check requests a player may leave unanswered; the next run drops it.
constexpr int kMaxOutstandingChecks = 7;
// Housekeeping seconds a join-flood entry is aged before it is judged.
constexpr std::uint32_t kJoinFloodAge = 4;
constexpr std::uint32_t kJoinFloodBanAttempts = 2;
// The repeated-chat memory is cleared when the cycle counter passes this (every fourth second).
constexpr int kChatCycleLast = 2;

}  // namespace

int GameSession::getAdminType(int id) const { return m_adminList.getClientType(id); }

void GameSession::removeTimedOutPlayers(int timeoutSeconds) {
    std::vector<int> expired;
    for (auto it = m_players.getIteratorBegin(); it != m_players.getIteratorEnd(); ++it) {
        if (it->second.connected && it->second.timeout > timeoutSeconds)
            expired.push_back(it->first);
    }
    for (int id : expired) {
        std::string nick = nickOf(id);
        if (Log::getInstance()->getListenMode()) {
            logLine(nick + " quit due to timeout.");
        } else {
            logLine("QUIT: '" + nick + "', PlayerID = " + std::to_string(id) +
                    " ... quit due to timeout.");
        }
        m_players.removePlayer(id);
        announceRemoval(id, 2);
    }

    expired.clear();
    for (auto it = m_adminList.getIteratorBegin(); it != m_adminList.getIteratorEnd(); ++it) {
        if (it->second.connected && it->second.timeout > timeoutSeconds)
            expired.push_back(it->first);
    }
    for (int id : expired) {
        int level = getAdminType(id);
        const char* prefix = level == 1 ? "ADMIN-QUIT: '" : level == 2 ? "ADMINPLUS-QUIT: '" : "";
        char nick[50] = {};
        m_adminList.getPlayerNick(id, nick, sizeof(nick));
        logLine(std::string(prefix) + nick + "', ID = " + std::to_string(id) +
                " ... quit due to timeout.");
        m_adminList.removePlayer(id);
    }
}

void GameSession::updateAllPlayerTimeouts(int seconds) {
    for (PlayerList* table : {&m_players, &m_adminList}) {
        for (auto it = table->getIteratorBegin(); it != table->getIteratorEnd(); ++it) {
            if (it->second.connected) it->second.timeout += seconds;
        }
    }
}

void GameSession::pingAllPlayers() {
    const unsigned char request[1] = {4};
    for (auto it = m_players.getIteratorBegin(); it != m_players.getIteratorEnd(); ++it) {
        Player& player = it->second;
        if (!player.connected) continue;
        player.previousPing = player.ping;
        player.ping = static_cast<std::uint16_t>(player.newPingStamp - player.oldPingStamp);
        player.oldPingStamp = Clock::pingStamp();
        sendToPlayer(player, request, sizeof(request));
    }
    sendToAdmins(request, sizeof(request));
}

void GameSession::notifyPlayersOfShutdown() {}

bool GameSession::allowNoisyLine(const sockaddr_in* from) {
    return from != nullptr &&
           m_noisyLines.allow(ntohl(from->sin_addr.s_addr), Clock::monotonicMillis());
}

void GameSession::reportSuppressedLogLines() {
    std::string summary = m_noisyLines.takeSummary();
    if (!summary.empty()) logLine(summary);
}

void GameSession::handleChatFloodingPlayers(int maxCount) {
    std::vector<int> flooders;
    for (auto it = m_players.getIteratorBegin(); it != m_players.getIteratorEnd(); ++it) {
        Player& player = it->second;
        if (!player.connected) continue;
        if (player.chatFloodCount > maxCount) flooders.push_back(it->first);
        player.chatFloodCount = 0;
        player.deathsThisSecond = 0;
    }
    bool banFlooders = Conf::getInstance()->getConfEntryValueAsInt("BanOnChatFlood") == 1;
    for (int id : flooders) {
        std::string nick = nickOf(id);
        std::string tail = "', PlayerID = " + std::to_string(id);
        // When automatic bans are being suppressed the flooder is still kicked.
        bool ban = banFlooders && Ban::getInstance()->addAutomaticIP(m_players.getPlayerAddr(id));
        if (ban) {
            logLine("BANNED: '" + nick + tail + " ... banned due to chat flood.");
        } else {
            logLine("QUIT: '" + nick + tail + " ... quit due to chat flood.");
        }
        const unsigned char kick[2] = {6, static_cast<unsigned char>(ban ? 1 : 3)};
        sendToId(id, kick, sizeof(kick));
        m_players.removePlayer(id);
        announceRemoval(id, 3);
    }
}

void GameSession::resetChatFloodCountForAllPlayers() {
    bool clearMemory = m_chatFloodCycle > kChatCycleLast;
    for (auto it = m_players.getIteratorBegin(); it != m_players.getIteratorEnd(); ++it) {
        if (!it->second.connected) continue;
        it->second.chatFloodCount = 0;
        if (clearMemory) it->second.lastChat.clear();
    }
    m_chatFloodCycle = clearMemory ? 0 : m_chatFloodCycle + 1;
}

void GameSession::handleJoinFloodingPlayers() {
    std::vector<std::string> expired;
    for (auto& [address, entry] : m_joinFloodTable) {
        if (entry.age <= kJoinFloodAge) {
            ++entry.age;
            continue;
        }
        if (entry.attempts > kJoinFloodBanAttempts &&
            Ban::getInstance()->addAutomaticIP(address.c_str())) {
            logLine("BANNED: '" + address + "' for Join Flood.");
        }
        expired.push_back(address);
    }
    for (const std::string& address : expired) m_joinFloodTable.erase(address);
}

void GameSession::handleClientCRCForAllPlayers() {
    std::vector<int> silent;
    const unsigned char request[1] = {25};
    const unsigned char kick[2] = {6, 9};
    for (auto it = m_players.getIteratorBegin(); it != m_players.getIteratorEnd(); ++it) {
        Player& player = it->second;
        if (!player.connected) continue;
        if (player.outstandingCrcRequests > kMaxOutstandingChecks) {
            logLine("QUIT: '" + std::string(player.nick) + "', PlayerID = " +
                    std::to_string(it->first) + " ... quit due to client crc timeout.");
            silent.push_back(it->first);
            sendToPlayer(player, kick, sizeof(kick));
        } else {
            sendToPlayer(player, request, sizeof(request));
            ++player.outstandingCrcRequests;
        }
    }
    for (int id : silent) {
        m_players.removePlayer(id);
        announceRemoval(id, 6);
    }
}

void GameSession::sendTime() {
    const unsigned char packet[4] = {32, static_cast<unsigned char>(m_gameHour),
                                     static_cast<unsigned char>(m_gameMins), 0};
    broadcastData(packet, sizeof(packet), -1, true);
}

void GameSession::sendWeather() {
    if (m_weatherHold == 0) {
        int draw = std::rand() % 51;
        if (draw <= 25) {
            m_weather = 0;
        } else if (draw <= 35) {
            m_weather = 1;
        } else if (draw <= 43) {
            m_weather = 2;
        } else {
            m_weather = 3;
        }
    }
    if (!m_randomWeather) return;
    const unsigned char packet[2] = {33, static_cast<unsigned char>(m_weather)};
    broadcastData(packet, sizeof(packet), -1, true);
}

void GameSession::tickClock() {
    if (m_weatherHold > 0) --m_weatherHold;
    if (m_gameMins <= 58) {
        ++m_gameMins;
        return;
    }
    m_gameMins = 0;
    m_gameHour = m_gameHour <= 22 ? m_gameHour + 1 : 0;
}
