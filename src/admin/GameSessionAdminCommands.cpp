#include <cstring>
#include <string>

#include "admin/AdminRules.h"
#include "admin/Ban.h"
#include "core/AtomicFile.h"
#include "core/Clock.h"
#include "core/Conf.h"
#include "core/Log.h"
#include "game/GameSession.h"
#include "net/ByteReader.h"
#include "net/ServerInterface.h"

namespace {

constexpr std::size_t kMaxUnbanText = 31;
constexpr std::size_t kMaxPassword = 32;
constexpr std::size_t kMaxAddressReply = 20;
constexpr int kBanListReplySize = 1024;
// Seconds within which a second shutdown request stops the server.
constexpr std::int64_t kShutdownWindow = 4;
constexpr int kWeatherHoldSeconds = 120;
constexpr std::size_t kMotdFieldBeforeText = 4;

const char* const kWeatherNames[] = {"Sun", "Cloud", "Rain", "Fog"};

}  // namespace

void GameSession::handleAdminCommand(int adminId, int command, const unsigned char* payload,
                                     int length) {
    const sockaddr_in* admin = m_adminList.getPlayerAddr(adminId);
    if (admin == nullptr) return;
    // The address is copied: replies must not depend on the record staying put.
    const sockaddr_in to = *admin;
    AdminRequest request{adminId, adminNickOf(adminId), &to, payload,
                         static_cast<std::size_t>(length - 1)};
    switch (command) {
        case 14:
            return adminRemovePlayer(request, false);
        case 15:
            return adminRemovePlayer(request, true);
        case 16:
            return adminUnban(request);
        case 17:
            return adminBanList(request);
        case 18:
            return adminShutdown(request);
        case 26:
            return adminReloadMotd(request);
        case 27:
            return adminSetPassword(request);
        case 28:
            return adminBanAddress(request);
        case 29:
            return adminPlayerAddress(request);
        case 30:
            return adminResetScores(request);
        case 31:
            return adminSetTime(request);
        case 34:
            return adminResetMoney(request);
        case 35:
            return adminSetWeather(request);
        case 38:
            return adminAddMoney(request);
        case 40:
            return adminSaveMotd(request);
        default:
            return;
    }
}

void GameSession::replyResult(const AdminRequest& request, int code, int result) {
    const unsigned char packet[2] = {static_cast<unsigned char>(code),
                                     static_cast<unsigned char>(result)};
    replyToAdmin(request.from, packet, sizeof(packet));
}

void GameSession::adminRemovePlayer(const AdminRequest& request, bool ban) {
    ByteReader reader(request.payload, request.size);
    int id = reader.i8();
    if (!reader.ok() || !m_players.doesPlayerExist(id)) return;
    logLine(std::string(ban ? "BANNED: '" : "KICKED: '") + nickOf(id) +
            "', PlayerID = " + std::to_string(id) + " by Admin " + request.nick);
    if (ban) Ban::getInstance()->addIP(m_players.getPlayerAddr(id));
    const unsigned char refusal[2] = {6, static_cast<unsigned char>(ban ? 1 : 3)};
    sendToId(id, refusal, sizeof(refusal));
    m_players.removePlayer(id);
    announceRemoval(id, 1);
}

void GameSession::adminUnban(const AdminRequest& request) {
    std::string text = readText(request.payload, request.size, kMaxUnbanText);
    if (!Ban::getInstance()->removeIP(text.c_str())) return replyResult(request, 16, 0);
    logLine("UNBANNED: '" + Log::printable(text) + "', by Admin " + request.nick);
    replyResult(request, 16, 1);
}

void GameSession::adminBanList(const AdminRequest& request) {
    unsigned char reply[kBanListReplySize];
    reply[0] = 17;
    int count = Ban::getInstance()->readListToBuffer(reinterpret_cast<char*>(reply + 1),
                                                     kBanListReplySize - 1);
    replyToAdmin(request.from, reply, count + 1);
}

void GameSession::adminShutdown(const AdminRequest& request) {
    if (Conf::getInstance()->getConfEntryValueAsInt("AdminAllowShutdown") != 1) {
        logLine("ADMIN-KILLSERVER: Remote Shutdown has been disabled.");
        return replyResult(request, 18, 4);
    }
    std::int64_t now = Clock::monotonicSeconds();
    if (!m_shutdownArmed) {
        logLine("ADMIN-KILLSERVER: First Attempt was received from '" + request.nick + "'.");
        m_shutdownArmed = true;
        m_shutdownArmedTime = now;
        return replyResult(request, 18, 1);
    }
    if (now - m_shutdownArmedTime > kShutdownWindow) {
        logLine("ADMIN-KILLSERVER: Too late on Second Attempt ... updating First Attempt.");
        replyResult(request, 18, 2);
    } else {
        logLine("ADMIN-KILLSERVER: Second Attempt was received from '" + request.nick +
                "' .... Killing Server.");
        m_shutdownRequested = true;
        replyResult(request, 18, 3);
    }
    m_shutdownArmedTime = now;
}

void GameSession::adminReloadMotd(const AdminRequest& request) {
    if (!loadMessageOfTheDay()) {
        logLine("ERROR: 'motd.txt' could not be opened for reading.");
        return replyResult(request, 26, 0);
    }
    replyResult(request, 26, 1);
}

void GameSession::adminSetPassword(const AdminRequest& request) {
    std::string password = readText(request.payload, request.size, kMaxPassword);
    if (password.empty() ||
        !Conf::getInstance()->setConfEntryValue("ServerPassword", password.c_str(), 0)) {
        return replyResult(request, 27, 0);
    }
    logLine("PASSWORD: The Server Password was successfully changed.");
    replyResult(request, 27, 1);
}

void GameSession::adminBanAddress(const AdminRequest& request) {
    std::string address = filterBanAddress(request.payload, request.size);
    if (address.empty()) return replyResult(request, 28, 0);
    logLine("BANNED: '" + address + "', by Admin " + request.nick);
    Ban::getInstance()->addIP(address.c_str());
    replyResult(request, 28, 1);
}

void GameSession::adminPlayerAddress(const AdminRequest& request) {
    ByteReader reader(request.payload, request.size);
    int id = reader.i8();
    const sockaddr_in* address = reader.ok() ? m_players.getPlayerAddr(id) : nullptr;
    if (address == nullptr) return;
    std::string text = ServerInterface::getAsciiAddress(address);
    if (text.size() > kMaxAddressReply) text.resize(kMaxAddressReply);
    unsigned char reply[2 + kMaxAddressReply];
    reply[0] = 29;
    reply[1] = static_cast<unsigned char>(id);
    std::memcpy(reply + 2, text.data(), text.size());
    replyToAdmin(request.from, reply, static_cast<int>(text.size() + 2));
}

void GameSession::adminResetScores(const AdminRequest& request) {
    logLine("RESET-SCORES: Requested by Admin " + request.nick);
    for (auto it = m_players.getIteratorBegin(); it != m_players.getIteratorEnd(); ++it) {
        if (it->second.connected) it->second.score = 0;
    }
    const unsigned char packet[1] = {30};
    broadcastData(packet, sizeof(packet), -1, true);
}

void GameSession::adminSetTime(const AdminRequest& request) {
    ByteReader reader(request.payload, request.size);
    int hour = reader.i8();
    int minute = reader.i8();
    if (!reader.ok() || hour < 0 || hour > 23 || minute < 0 || minute > 59) return;
    m_gameHour = hour;
    m_gameMins = minute;
    logLine("CHANGE-TIME: Game Time Changed, Hour = '" + std::to_string(hour) + "', Minute = '" +
            std::to_string(minute) + "' By Admin " + request.nick);
    const unsigned char packet[3] = {31, static_cast<unsigned char>(hour),
                                     static_cast<unsigned char>(minute)};
    broadcastData(packet, sizeof(packet), -1, true);
}

void GameSession::adminResetMoney(const AdminRequest& request) {
    logLine("RESET-MONEY: Requested by Admin " + request.nick);
    const unsigned char packet[1] = {34};
    broadcastData(packet, sizeof(packet), -1, true);
}

void GameSession::adminSetWeather(const AdminRequest& request) {
    ByteReader reader(request.payload, request.size);
    int weather = reader.i8();
    if (!reader.ok() || weather < 0 || weather > 3) return;
    m_weather = weather;
    m_weatherHold = kWeatherHoldSeconds;
    if (!m_randomWeather) return;
    logLine(std::string("CHANGE-WEATHER: Weather Changed, Type = '") + kWeatherNames[weather] +
            "' By Admin " + request.nick);
    const unsigned char packet[2] = {35, static_cast<unsigned char>(weather)};
    broadcastData(packet, sizeof(packet), -1, true);
}

void GameSession::adminAddMoney(const AdminRequest& request) {
    if (request.size < 4) return;
    logLine("ADD-MONEY: Requested by Admin " + request.nick);
    unsigned char packet[5] = {38};
    std::memcpy(packet + 1, request.payload, 4);
    broadcastData(packet, sizeof(packet), -1, true);
}

void GameSession::adminSaveMotd(const AdminRequest& request) {
    std::string text;
    if (request.size > kMotdFieldBeforeText) {
        text = readText(request.payload + kMotdFieldBeforeText, request.size - kMotdFieldBeforeText,
                        request.size);
    }
    // Replaced whole or not at all, so a failed save never leaves the file cut.
    if (replaceFileAtomically("motd.txt", text)) {
        logLine("Admin: Saved new motd to motd.txt.");
        replyResult(request, 40, 1);
    } else {
        logLine("Admin: Could not save new motd to motd.txt.");
        replyResult(request, 40, 0);
    }
    adminReloadMotd(request);
}
