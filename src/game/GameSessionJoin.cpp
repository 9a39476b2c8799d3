#include <algorithm>
#include <cstring>
#include <string>

#include "admin/Ban.h"
#include "core/Clock.h"
#include "core/Conf.h"
#include "core/Log.h"
#include "game/GameSession.h"
#include "game/JoinRules.h"
#include "net/ByteReader.h"
#include "net/ByteWriter.h"
#include "net/ServerInterface.h"

namespace {

// Reason bytes of the refusal [6, reason].
constexpr int kNickInUse = 0;
constexpr int kBanned = 1;
constexpr int kAlreadyJoined = 2;
constexpr int kWrongPassword = 4;
constexpr int kWrongVersion = 6;
constexpr int kServerFull = 7;
constexpr int kWrongCheckValue = 8;
constexpr int kReservedNick = 10;
constexpr int kJoinFlood = 12;

// The longest message text sent, so that the datagram always ends with its NUL.
constexpr std::size_t kMaxMotdText = 998;
constexpr std::size_t kServerNameField = 50;

struct CheckValues {
    std::uint32_t map;
    std::uint32_t a;
    std::uint32_t b;
};

CheckValues checkValuesFor(int clientType, int mapNumber) {
    if (clientType == 1) {
        std::uint32_t map = 0;
        if (mapNumber == 3) map = 0xD37FA334;
        if (mapNumber == 4) map = 0x7FDF0DED;
        if (mapNumber == 5) map = 0xC51388EC;
        return {map, 0xF3FF92A4, 0xE924A868};
    }
    return {mapNumber == 1 ? 0x6AD94B53u : 0xD060D818u, 0xE63869A0, 0x5B28BF00};
}

void writeFileOnly(Log* log, const std::string& text, bool endLine) {
    log->writeToLog(text, endLine, false);
}

}  // namespace

void GameSession::refuseJoin(const sockaddr_in* to, int reason) {
    ++m_counters.joinsRefused[static_cast<unsigned char>(reason)];
    const unsigned char packet[2] = {6, static_cast<unsigned char>(reason)};
    sendGeneral(to, packet, sizeof(packet));
}

void GameSession::handleJoinRequest(int id, const unsigned char* payload, const sockaddr_in* from,
                                    int length) {
    auto payloadSize = static_cast<std::size_t>(length - 1);
    ByteReader reader(payload, payloadSize);
    std::uint8_t version = reader.u8();
    int clientKind = reader.i8();
    std::uint32_t checkValue = reader.u32();
    // Too short for its fixed fields: no client sends this, so it gets no answer at all.
    if (!reader.ok()) return;

    if (id >= 0) return refuseJoin(from, kAlreadyJoined);
    if (Ban::getInstance()->isBanned(from)) return refuseJoin(from, kBanned);
    if (m_players.getPlayerConnectedCount() >= m_maxPlayers) return refuseJoin(from, kServerFull);
    const std::string address = ServerInterface::getAsciiAddress(from);
    auto flood = m_joinFloodTable.find(address);
    if (flood != m_joinFloodTable.end()) {
        ++flood->second.attempts;
        return refuseJoin(from, kJoinFlood);
    }
    if (version != '2') return refuseJoin(from, kWrongVersion);
    if (checkValue != kCheckValue) return refuseJoin(from, kWrongCheckValue);

    JoinNick request = readJoinNick(payload, payloadSize);
    if (request.nick.empty()) {
        ++m_counters.joinsRefusedWithoutNick;
        const unsigned char packet[1] = {6};
        return sendGeneral(from, packet, sizeof(packet));
    }
    if (m_players.getPlayerID(request.nick.c_str()) >= 0) return refuseJoin(from, kNickInUse);
    if (isReservedNick(request.nick, clientKind)) return refuseJoin(from, kReservedNick);
    if (m_passwordRequired) {
        if (!m_passwordChecks.take(Clock::monotonicMillis())) {
            ++m_counters.passwordChecksDropped;
            return;
        }
        const char* password = Conf::getInstance()->getConfEntryValue("ServerPassword");
        if (password == nullptr || request.password != password) {
            if (allowNoisyLine(from)) {
                logLine("ERROR: Unable to add '" + request.nick + "' from '" + address +
                        ",' password is incorrect.");
                logLine(Log::printable(request.password));
            }
            return refuseJoin(from, kWrongPassword);
        }
    }

    int newId = m_players.addPlayer(from, request.nick.c_str(), 0);
    if (newId < 0) {
        logLine("ERROR: Unable to add '" + request.nick + "' from '" + address + "'");
        return;
    }
    ++m_counters.joinsAccepted;
    m_joinFloodTable[address] = JoinFlood{};
    resetStatistics(newId);
    announceJoin(newId, request.nick.c_str(), from);
}

void GameSession::announceJoin(int id, const char* nick, const sockaddr_in* from) {
    const std::string address = ServerInterface::getAsciiAddress(from);
    Log* log = Log::getInstance();
    if (log->getListenMode()) {
        logLine(std::string(nick) + " has joined the server (IP Address: " + address + ")");
    } else {
        logLine("JOIN: '" + std::string(nick) + "', PlayerID = " + std::to_string(id) + " (" +
                address + ")");
    }
    if (m_statLogging) {
        const std::string separator = "\xA9";
        writeFileOnly(
            log, "Join: " + std::to_string(id) + separator + nick + separator + address + separator,
            true);
    }
    sendJoinResponse(from, id, false);

    const std::size_t nickLength = std::strlen(nick);
    unsigned char notice[2 + 13 + 1 + 16];
    ByteWriter joined(notice, sizeof(notice));
    joined.u8(8);
    joined.u8(static_cast<std::uint8_t>(id));
    joined.bytes(nick, nickLength);
    broadcastData(notice, static_cast<int>(joined.size()), id, false);

    // Admins also learn where the newcomer comes from.
    joined.u8(0);
    joined.bytes(address.data(), address.size());
    if (joined.ok()) sendToAdmins(notice, static_cast<int>(joined.size()));
}

void GameSession::sendJoinResponse(const sockaddr_in* to, int id, bool forAdmin) {
    unsigned char reply[1024] = {};
    ByteWriter writer(reply, sizeof(reply));
    writer.u8(1);
    writer.u8(static_cast<std::uint8_t>(m_clientType));
    writer.u8(static_cast<std::uint8_t>(m_mapNumber));
    writer.u8(static_cast<std::uint8_t>(m_gameMode));
    writer.u8(static_cast<std::uint8_t>(id));
    writer.u8(static_cast<std::uint8_t>(m_maxPlayers));
    writer.u8(static_cast<std::uint8_t>(m_gameHour));
    writer.u8(static_cast<std::uint8_t>(m_gameMins));
    writer.u8(static_cast<std::uint8_t>(m_weather));
    CheckValues checks = checkValuesFor(m_clientType, m_mapNumber);
    writer.u32(checks.map);
    writer.u32(checks.a);
    writer.u32(checks.b);
    if (!forAdmin) {
        char key[20] = {};
        m_players.getPlainKey(id, key);
        writer.bytes(key, 16);
    }
    // The name keeps at least one NUL in its field.
    const char* name = Conf::getInstance()->getConfEntryValue("ServerName");
    char nameField[kServerNameField] = {};
    if (name != nullptr) std::strncpy(nameField, name, kServerNameField - 1);
    writer.bytes(nameField, kServerNameField);
    writer.bytes(m_motdUrl, kMotdUrlSize);

    for (auto it = m_players.getIteratorBegin(); it != m_players.getIteratorEnd(); ++it) {
        const Player& player = it->second;
        if (!player.connected || player.nick[0] == '\0') continue;
        if (it->first == id && !forAdmin) continue;
        writer.u8(static_cast<std::uint8_t>(it->first));
        writer.i16(player.score);
        if (m_clientType == 1) writer.i32(player.money);
        writer.bytes(player.nick, std::strlen(player.nick));
        writer.u8(7);
    }
    int size = static_cast<int>(writer.size());

    if (forAdmin) {
        m_adminEndpoint.sendData(to, reply, size);
        return;
    }
    sendGeneral(to, reply, size);
    auto self = m_players.getPlayerMap().find(id);
    if (m_motdLoaded && self != m_players.getPlayerMap().end()) sendMotd(self->second);
}

void GameSession::sendMotd(const Player& player) {
    std::size_t textLength = std::min(std::strlen(getMotdText()), kMaxMotdText);
    unsigned char packet[kMaxMotdText + 2];
    packet[0] = 21;
    std::memcpy(packet + 1, getMotdText(), textLength);
    packet[textLength + 1] = 0;
    sendToPlayer(player, packet, static_cast<int>(textLength + 2));
}

void GameSession::handleQuit(int id) {
    char nick[50] = {};
    m_players.getPlayerNick(id, nick, sizeof(nick));
    Log* log = Log::getInstance();
    if (log->getListenMode()) {
        logLine(std::string(nick) + " quit.");
    } else {
        logLine("QUIT: '" + std::string(nick) + "', PlayerID = " + std::to_string(id));
    }
    if (m_statLogging) {
        writeFileOnly(log, "Quit: " + std::to_string(id), true);
    }
    m_players.removePlayer(id);
    announceRemoval(id, 0);
}
