#include <cstring>
#include <string>

#include "core/Clock.h"
#include "core/Conf.h"
#include "core/Log.h"
#include "game/ChatRules.h"
#include "game/GameSession.h"
#include "net/ByteReader.h"
#include "net/ByteWriter.h"

namespace {

constexpr int kNoKiller = 100;
constexpr int kDeadChatType = 4;
constexpr int kLoggedOnlyChatType = 3;

}  // namespace

std::string GameSession::nickOf(int id) {
    char nick[50] = {};
    m_players.getPlayerNick(id, nick, sizeof(nick));
    return nick;
}

void GameSession::sendToId(int id, const unsigned char* data, int length) {
    auto it = m_players.getPlayerMap().find(id);
    if (it != m_players.getPlayerMap().end()) sendToPlayer(it->second, data, length);
}

void GameSession::handleChat(int id, const unsigned char* payload, int length) {
    if (length < 2) return;
    int type = payload[0];
    std::string text = cleanChatText(payload, length);
    if (startsWith(text, "/") && !startsWith(text, "/me ")) {
        if (startsWith(text, "/msg ")) return handlePrivateMessage(id, type, text);
        if (!startsWith(text, "/slap ")) return;
    }
    if (text.empty() || m_players.isChatRepeated(id, text.c_str())) return;
    // A logged-only line counts for no flood, so only the log limit holds it back.
    bool logged = type != kLoggedOnlyChatType || allowNoisyLine(m_players.getPlayerAddr(id));
    if (logged && m_chatToLog && !Log::getInstance()->getListenMode()) {
        logLine("---> " + nickOf(id) + ": " + text);
    }
    if (type == kLoggedOnlyChatType) return;
    if (m_players.getPlayerDead(id)) type = kDeadChatType;

    unsigned char packet[4 + 128];
    broadcastData(packet, writeChatLine(packet, sizeof(packet), id, type, "", text), -1, true);
    m_players.incrementChatFloodCountForPlayer(id);
}

int GameSession::resolveRecipient(const std::string& token) {
    int id = !token.empty() && token[0] == '#' ? parseRecipientNumber(token, m_maxPlayers)
                                               : m_players.getPlayerID(token.c_str());
    return id >= 0 && m_players.doesPlayerExist(id) ? id : -1;
}

void GameSession::handlePrivateMessage(int id, int type, const std::string& line) {
    // Room for the header, "/msgr ", a whole cleaned line and its NUL.
    unsigned char packet[4 + 6 + 128];
    sendToAdmins(packet, writeChatLine(packet, sizeof(packet), id, type, "", line));

    PrivateMessage message = parsePrivateMessage(line);
    if (!message.text.empty()) {
        sendToId(id, packet,
                 writeChatLine(packet, sizeof(packet), id, type, "/msgr ", message.text));
    }
    if (!message.recipients.empty() && !message.text.empty() &&
        !m_players.isChatRepeated(id, message.text.c_str())) {
        int packetLength = writeChatLine(packet, sizeof(packet), id, type, "/msg ", message.text);
        for (std::size_t i = 0; i < message.recipients.size(); ++i) {
            int to = resolveRecipient(message.recipients[i]);
            if (to < 0) continue;
            bool last = i + 1 == message.recipients.size();
            if (last && m_chatToLog && !Log::getInstance()->getListenMode()) {
                logLine("---> " + nickOf(id) + ": " + line);
            }
            sendToId(to, packet, packetLength);
        }
    }
    m_players.incrementChatFloodCountForPlayer(id);
}

void GameSession::handlePingRequest(int id) {
    const unsigned char answer[1] = {5};
    sendToId(id, answer, sizeof(answer));
}

void GameSession::handlePingReply(int id, const unsigned char* payload, int length) {
    ByteReader reader(payload, static_cast<std::size_t>(length - 1));
    std::uint32_t b = reader.u8();
    std::uint32_t v = reader.u32();
    if (!reader.ok()) return;
    auto nickLength = static_cast<std::uint32_t>(nickOf(id).size());
    if (v + static_cast<std::uint32_t>(id) - nickLength + b == kCheckValue) {
        acceptPingReply(id);
    } else {
        removeForWrongCheck(id, " quit due to crc missmatch.");
    }
}

void GameSession::acceptPingReply(int id) {
    m_players.resetTimeoutForPlayer(id);
    auto it = m_players.getPlayerMap().find(id);
    if (it == m_players.getPlayerMap().end()) return;
    Player& player = it->second;
    int report = player.reportedPing();
    unsigned char packet[4];
    ByteWriter writer(packet, sizeof(packet));
    writer.u8(22);
    writer.u8(static_cast<std::uint8_t>(id));
    writer.u16(static_cast<std::uint16_t>(report));
    broadcastData(packet, sizeof(packet), -1, true);
    m_players.storeNewPingStamp(id, Clock::pingStamp());
}

void GameSession::removeForWrongCheck(int id, const char* listenLine) {
    std::string nick = nickOf(id);
    if (listenLine != nullptr && Log::getInstance()->getListenMode()) {
        logLine(nick + listenLine);
    } else {
        logLine("QUIT: '" + nick + "', PlayerID = " + std::to_string(id) +
                " ... quit due to client crc mismatch.");
    }
    const unsigned char refusal[2] = {6, 8};
    sendToId(id, refusal, sizeof(refusal));
    m_players.removePlayer(id);
    announceRemoval(id, 5);
}

void GameSession::handleDeath(int id, const unsigned char* payload, int length) {
    ByteReader reader(payload, static_cast<std::size_t>(length - 1));
    int killer = reader.i8();
    int weapon = reader.u8();
    if (!reader.ok()) return;
    if (m_players.getPlayerDeathCountPerSecond(id) >= 2) return;
    if (killer == kNoKiller) {
        const unsigned char death[3] = {11, static_cast<unsigned char>(id), kNoKiller};
        broadcastData(death, sizeof(death), -1, true);
    } else {
        // Liberty City clients expect weapon 16 deaths to name no killer.
        int shownKiller = weapon == 16 && m_clientType == 1 ? 0xFF : killer;
        const unsigned char death[7] = {11,
                                        static_cast<unsigned char>(id),
                                        static_cast<unsigned char>(shownKiller),
                                        static_cast<unsigned char>(weapon),
                                        0,
                                        0,
                                        0};
        broadcastData(death, sizeof(death), -1, true);
    }
    m_players.incrementPlayerDeathCountPerSecond(id);
    if (!m_players.doesPlayerExist(killer)) return;

    if (m_statLogging) {
        Log* log = Log::getInstance();
        log->writeToLog("Kill: " + std::to_string(killer) + " " + std::to_string(id) + " " +
                            std::to_string(weapon),
                        true, false);
        log->writeToLog("Death: " + std::to_string(id) + " " + std::to_string(weapon), true, false);
    }
    short score = m_players.getPlayerScore(killer);
    score = static_cast<short>(killer == id ? score - 1 : score + 1);
    m_players.setPlayerScore(killer, score);
    unsigned char packet[4];
    ByteWriter writer(packet, sizeof(packet));
    writer.u8(12);
    writer.u8(static_cast<std::uint8_t>(killer));
    writer.i16(score);
    broadcastData(packet, sizeof(packet), -1, true);
}

void GameSession::handleScore(int id, const unsigned char* payload, int length) {
    ByteReader reader(payload, static_cast<std::size_t>(length - 1));
    std::uint32_t value = reader.u32();
    if (!reader.ok() || m_mapNumber != 2) return;
    auto score = static_cast<std::int16_t>(value & 0xFFFF);
    m_players.setPlayerScore(id, score);
    unsigned char packet[6];
    ByteWriter writer(packet, sizeof(packet));
    writer.u8(12);
    writer.u8(static_cast<std::uint8_t>(id));
    writer.i16(score);
    writer.u16(0);
    broadcastData(packet, sizeof(packet), -1, true);
}

void GameSession::handleTrainer(int id) {
    std::string nick = nickOf(id);
    if (Log::getInstance()->getListenMode()) {
        logLine(nick + " quit due to suspected trainer usage.");
    } else {
        logLine("QUIT: '" + nick + "', PlayerID = " + std::to_string(id) +
                " ... client quit due to trainer usage");
    }
    m_players.removePlayer(id);
    announceRemoval(id, 4);
}

void GameSession::handleNickQuery(int id, const unsigned char* payload, int length) {
    ByteReader reader(payload, static_cast<std::size_t>(length - 1));
    int asked = reader.i8();
    if (!reader.ok() || !m_players.doesPlayerExist(asked)) return;
    std::string nick = nickOf(asked);
    if (nick.empty()) return;
    unsigned char packet[2 + 13];
    ByteWriter writer(packet, sizeof(packet));
    writer.u8(20);
    writer.u8(static_cast<std::uint8_t>(asked));
    writer.bytes(nick.data(), nick.size());
    if (writer.ok()) sendToId(id, packet, static_cast<int>(writer.size()));
}

void GameSession::handleSkinChange(int id, const unsigned char* payload, int length) {
    ByteReader reader(payload, static_cast<std::size_t>(length - 1));
    int skin = reader.i8();
    if (!reader.ok()) return;
    m_players.storePlayerSkin(id, skin);
    const unsigned char packet[3] = {23, static_cast<unsigned char>(id),
                                     static_cast<unsigned char>(skin)};
    broadcastData(packet, sizeof(packet), m_testmode ? -1 : id, false);
}

void GameSession::handleSkinQuery(int id, const unsigned char* payload, int length) {
    ByteReader reader(payload, static_cast<std::size_t>(length - 1));
    int asked = reader.i8();
    if (!reader.ok()) return;
    const unsigned char packet[3] = {23, static_cast<unsigned char>(asked),
                                     static_cast<unsigned char>(m_players.getPlayerSkin(asked))};
    sendToId(id, packet, sizeof(packet));
}

void GameSession::handleClientCheckReply(int id, const unsigned char* payload, int length) {
    ByteReader reader(payload, static_cast<std::size_t>(length - 1));
    std::uint32_t value = reader.u32();
    if (!reader.ok()) return;
    if (value == kCheckValue) {
        m_players.resetOutstandingClientCRCRequests(id);
    } else {
        removeForWrongCheck(id, nullptr);
    }
}

void GameSession::handleMoney(int id, const unsigned char* payload, int length) {
    ByteReader reader(payload, static_cast<std::size_t>(length - 1));
    std::int32_t money = reader.i32();
    if (!reader.ok() || m_clientType != 1) return;
    m_players.setPlayerMoney(id, money);
    unsigned char packet[6];
    ByteWriter writer(packet, sizeof(packet));
    writer.u8(36);
    writer.u8(static_cast<std::uint8_t>(id));
    writer.i32(money);
    broadcastData(packet, sizeof(packet), -1, true);
}

void GameSession::handleDeathPosition(int id, const unsigned char* payload, int length) {
    ByteReader reader(payload, static_cast<std::size_t>(length - 1));
    unsigned char record[18] = {};
    reader.bytes(record + 6, 12);
    if (!reader.ok()) return;
    m_players.setPlayerDead(id, true);
    // On foot, heading 0.0, then the position under its tag.
    record[5] = 1;
    storeStateRecord(id, record, sizeof(record));
}

void GameSession::handleGameModeQuery(int id) {
    const unsigned char packet[2] = {41, static_cast<unsigned char>(m_gameMode)};
    sendToId(id, packet, sizeof(packet));
}

void GameSession::handleGameModeChange(int id, const unsigned char* payload, int length) {
    ByteReader reader(payload, static_cast<std::size_t>(length - 1));
    int mode = reader.i8();
    if (!reader.ok()) return;
    m_gameMode = mode;
    logLine("GameMode was changed to " + std::to_string(mode) + " by " + nickOf(id));
    const unsigned char packet[2] = {41, static_cast<unsigned char>(mode)};
    broadcastData(packet, sizeof(packet), id, false);
}
