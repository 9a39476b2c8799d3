#include <cstring>
#include <string>

#include "admin/AdminRules.h"
#include "admin/Ban.h"
#include "admin/WarnList.h"
#include "core/Clock.h"
#include "core/Conf.h"
#include "core/Log.h"
#include "game/ChatRules.h"
#include "game/GameSession.h"
#include "net/ServerInterface.h"

namespace {

// Refusal reasons of the admin login, in the packet [6, reason].
constexpr int kNickInUse = 0;
constexpr int kBanned = 1;
constexpr int kAlreadyLoggedIn = 2;
constexpr int kWrongPassword = 4;
constexpr int kMalformed = 6;
constexpr int kAdminPlusDisabled = 11;

// Only the first 129 bytes of an admin chat datagram count.
constexpr int kMaxAdminChatDatagram = 129;

}  // namespace

void GameSession::processAdminCommand(int command, const unsigned char* payload,
                                      const sockaddr_in* from, int length) {
    int adminId = m_adminList.getPlayerID(from);
    // Any datagram from a logged-in admin is a sign of life.
    if (adminId >= 0) m_adminList.resetTimeoutForPlayer(adminId);
    if (command == 13) return handleAdminLogin(adminId, payload, from, length);
    if (adminId < 0) return;
    switch (command) {
        case 2:
            return handleAdminQuit(adminId);
        case 3:
            return handleAdminChat(adminId, payload, length);
        case 5:
            return;  // keep-alive: the timeout is already reset
        default:
            return handleAdminCommand(adminId, command, payload, length);
    }
}

void GameSession::replyToAdmin(const sockaddr_in* to, const unsigned char* data, int length) {
    if (length <= 0) return;
    m_adminEndpoint.sendData(to, data, length);
}

std::string GameSession::adminNickOf(int adminId) {
    char nick[50] = {};
    m_adminList.getPlayerNick(adminId, nick, sizeof(nick));
    return nick;
}

void GameSession::handleAdminLogin(int adminId, const unsigned char* payload,
                                   const sockaddr_in* from, int length) {
    auto refuse = [&](int reason) {
        ++m_counters.adminLoginsRefused[static_cast<unsigned char>(reason)];
        const unsigned char packet[2] = {6, static_cast<unsigned char>(reason)};
        replyToAdmin(from, packet, sizeof(packet));
    };
    if (adminId >= 0) return refuse(kAlreadyLoggedIn);
    if (Ban::getInstance()->isBanned(from)) return refuse(kBanned);
    AdminLogin login = readAdminLogin(payload, static_cast<std::size_t>(length - 1));
    if (!login.wellFormed) return refuse(kMalformed);
    if (m_adminList.getPlayerID(login.nick.c_str()) >= 0) return refuse(kNickInUse);
    if (login.level == 2 && !m_adminPlusEnabled) return refuse(kAdminPlusDisabled);

    if (!m_passwordChecks.take(Clock::monotonicMillis())) {
        ++m_counters.passwordChecksDropped;
        return;
    }
    const char* expected = Conf::getInstance()->getConfEntryValue(
        login.level == 2 ? "AdminPlusPassword" : "AdminPassword");
    const std::string address = ServerInterface::getAsciiAddress(from);
    const char* kind = login.level == 2 ? "ADMINPLUS" : "ADMIN";
    if (expected == nullptr || login.password != expected) {
        int attempt = AddToWarnList(address.c_str(), from);
        if (attempt != kWarnListBanned && allowNoisyLine(from)) {
            logLine(std::string(kind) + "-ERROR: Unable to add '" + login.nick +
                    "' password is incorrect. Attempt " + std::to_string(attempt) + ".");
        }
        return refuse(kWrongPassword);
    }
    int id = m_adminList.addPlayer(from, login.nick.c_str(), login.level);
    if (id < 0) return;
    logLine(std::string(kind) + "-JOIN: '" + login.nick + "', ID = " + std::to_string(id) + " (" +
            address + ")");
    sendJoinResponse(from, id, true);
}

void GameSession::handleAdminQuit(int adminId) {
    const char* prefix = getAdminType(adminId) == 2 ? "ADMINPLUS-QUIT: '" : "ADMIN-QUIT: '";
    logLine(prefix + adminNickOf(adminId) + "', ID = " + std::to_string(adminId));
    m_adminList.removePlayer(adminId);
}

void GameSession::handleAdminChat(int adminId, const unsigned char* payload, int length) {
    if (length > kMaxAdminChatDatagram) length = kMaxAdminChatDatagram;
    if (length < 2) return;
    int type = payload[0];
    std::string text = cleanChatText(payload, length);
    // The log shows what the admin typed, unfiltered but escaped.
    std::string raw = Log::printable(readText(payload + 1, static_cast<std::size_t>(length - 2),
                                              static_cast<std::size_t>(length)));
    std::string logText = "***> " + adminNickOf(adminId) + ": " + raw;

    if (startsWith(text, "/") && !startsWith(text, "/me ") && !startsWith(text, "/slap ")) {
        if (startsWith(text, "/msg ")) handleAdminPrivateMessage(adminId, type, text, logText);
        return;
    }
    if (text.empty()) return;
    if (m_chatToLog) logLine(logText);
    unsigned char packet[4 + 128];
    broadcastData(packet, writeChatLine(packet, sizeof(packet), adminId, type, "", text), -1, true);
}

void GameSession::handleAdminPrivateMessage(int adminId, int type, const std::string& text,
                                            const std::string& logText) {
    PrivateMessage message = parsePrivateMessage(text);
    if (message.text.empty()) return;
    unsigned char packet[4 + 6 + 128];
    const sockaddr_in* sender = m_adminList.getPlayerAddr(adminId);
    if (sender != nullptr) {
        replyToAdmin(sender, packet,
                     writeChatLine(packet, sizeof(packet), adminId, type, "/msgr ", message.text));
    }
    if (message.recipients.empty()) return;

    int packetLength = writeChatLine(packet, sizeof(packet), adminId, type, "/msg ", message.text);
    for (std::size_t i = 0; i < message.recipients.size(); ++i) {
        int to = resolveRecipient(message.recipients[i]);
        if (to < 0) continue;
        if (i + 1 == message.recipients.size() && m_chatToLog) logLine(logText);
        sendToId(to, packet, packetLength);
    }
}
