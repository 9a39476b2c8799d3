#include <cstring>
#include <string>

#include "core/Conf.h"
#include "core/Log.h"
#include "game/GameSession.h"
#include "net/Envelope.h"
#include "net/ServerInterface.h"

namespace {

constexpr int kCompactBufferSize = 32;
// A statistics slot that no selector or weapon byte can hold, so a new player's first report
// is always written.
constexpr int kNotLogged = -1000;

// Payload sizes of the record's tags, by client type, as the parser reads them.
int tagPayloadSize(int clientType, int tag) {
    if (tag == 1) return 12;
    if (clientType == 1) {
        if (tag >= 2 && tag <= 6) return 1;
        if (tag >= 7 && tag <= 10) return 4;
        if (tag >= 11 && tag <= 15) return 12;
        if (tag == 16) return 1;
        return 0;
    }
    if (tag >= 2 && tag <= 7) return 1;
    if (tag == 8 || tag == 9) return 4;
    if (tag >= 10 && tag <= 14) return 12;
    if (tag == 15 || tag == 16) return 1;
    return 0;
}

// The weapon is reported under a tag the record parser does not know.
constexpr int kWeaponTag = 29;

}  // namespace

void GameSession::resetStatistics(int id) {
    if (id < 0 || id >= kStatisticsSlots) return;
    m_vehicleLog[id] = kNotLogged;
    m_weaponLog[id] = kNotLogged;
}

void GameSession::storeStateRecord(int id, const unsigned char* record, int length) {
    if (m_clientType == 1) m_players.storeGTA3PlayerData(id, record, length);
    if (m_clientType == 2) m_players.storeGTAVCPlayerData(id, record, length);
}

void GameSession::handleStateReport(int id, const unsigned char* payload, int length) {
    // Nothing to relay without at least the selector; nothing longer than a datagram can be.
    if (length < 2 || length > kMaxDatagramSize) return;
    m_players.setPlayerDead(id, false);
    unsigned char packet[kMaxInnerSize];
    packet[0] = 10;
    packet[1] = static_cast<unsigned char>(id);
    std::memcpy(packet + 2, payload, static_cast<std::size_t>(length - 1));
    storeStateRecord(id, payload, length - 1);
    if (m_testmode) {
        broadcastGameData(packet, length + 1, id, -1, false);
    } else {
        broadcastGameData(packet, length + 1, id, id, payload[0] != 0);
    }
}

int GameSession::buildCompactPacket(int id, unsigned char* out) {
    out[0] = 10;
    out[1] = static_cast<unsigned char>(id);
    int position = 2;
    int built = 0;
    if (m_clientType == 1) built = m_players.getGTA3PlayerGameDataPacketTiny(id, out, &position);
    if (m_clientType == 2) built = m_players.getGTAVCPlayerGameDataPacketTiny(id, out, &position);
    return built == 1 ? position : 0;
}

void GameSession::broadcastGameData(const unsigned char* packet, int length, int senderId,
                                    int exceptId, bool useVisibility) {
    unsigned char compact[kCompactBufferSize];
    int compactLength = buildCompactPacket(senderId, compact);
    bool statistics = m_statLogging;

    for (auto it = m_players.getIteratorBegin(); it != m_players.getIteratorEnd(); ++it) {
        if (!it->second.connected || !it->second.confirmed || it->first == exceptId) continue;
        // The lines only change when the tables do, so one scan per report says it all.
        if (statistics) {
            logStateStatistics(packet, length);
            statistics = false;
        }
        if (useVisibility && compactLength > 0 && !m_players.isPlayerVisible(senderId, it->first)) {
            m_gameBatch.addSealed(it->second.uniqueCipher, it->second.address, compact,
                                  compactLength);
        } else {
            m_gameBatch.addSealed(it->second.uniqueCipher, it->second.address, packet, length);
        }
    }
    m_gameBatch.flush();

    if (compactLength == 0) return;
    // Admins get a player on foot without the compact form's trailing tagged values.
    int adminLength = compactLength;
    if (compact[2] == 0) adminLength -= m_clientType == 1 ? 2 : 4;
    for (auto it = m_adminList.getIteratorBegin(); it != m_adminList.getIteratorEnd(); ++it) {
        if (it->second.connected && it->second.adminLevel == 2) {
            m_adminEndpoint.sendData(&it->second.address, compact, adminLength);
        }
    }
}

void GameSession::logStateStatistics(const unsigned char* packet, int length) {
    if (length < 3) return;
    int id = static_cast<signed char>(packet[1]);
    int selector = static_cast<signed char>(packet[2]);
    if (id < 0 || id >= kStatisticsSlots) return;
    // A client can flip its selector on every report; the lines it causes are limited.
    if (!allowNoisyLine(m_players.getPlayerAddr(id))) return;
    Log* log = Log::getInstance();
    if (m_vehicleLog[id] != selector) {
        log->writeToLog("Veh: " + std::to_string(id) + " " + std::to_string(selector), true, false);
        m_vehicleLog[id] = selector;
    }
    // Walk the record with the parser's sizes, never past the packet.
    int i = packet[2] <= 100 ? 7 : 3;
    while (i + 1 < length) {
        int tag = packet[i++];
        if (tag == kWeaponTag) {
            int weapon = static_cast<signed char>(packet[i]);
            if (m_weaponLog[id] != weapon) {
                log->writeToLog("Wea: " + std::to_string(id) + " " + std::to_string(weapon), true,
                                false);
                m_weaponLog[id] = weapon;
            }
        }
        i += tagPayloadSize(m_clientType, tag);
    }
}
