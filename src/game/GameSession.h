// The state of the running game, and the handler of every datagram that arrives on the game and
// admin ports. Built once by the main loop after the configuration, the log, the ban list and
// both endpoints exist; destroyed when the loop ends. Members are grouped by the file that
// defines them.
#pragma once

#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

#include "core/LogLimiter.h"
#include "core/TokenBucket.h"
#include "game/PlayerList.h"
#include "net/CRijndael.h"
#include "net/SendBatch.h"

class ServerInterface;

// Recent successful joins from one address (dotted text, no port).
struct JoinFlood {
    std::uint32_t age = 0;       // housekeeping seconds since the join
    std::uint32_t attempts = 1;  // join requests from the address, the join included
};

// What the session has counted since start-up, for the metrics file. Indexes are the reason
// bytes of the packets that carry them.
struct SessionCounters {
    std::uint64_t joinsAccepted = 0;
    std::uint64_t joinsRefused[256] = {};       // by the reason of the refusal [6, reason]
    std::uint64_t joinsRefusedWithoutNick = 0;  // the refusal [6] without a reason
    std::uint64_t playersRemoved[256] = {};     // by the reason of the notice [9, reason, id]
    std::uint64_t adminLoginsRefused[256] = {};
    std::uint64_t passwordChecksDropped = 0;  // beyond the global rate of password comparisons
};

class GameSession {
public:
    // GameSession.cpp: construction, dispatch, message of the day.

    // Uses the Server and AdminServer singletons and the game players' table.
    GameSession();
    // Sends through `gameEndpoint` and `adminEndpoint`, which must outlive the session; tests
    // pass endpoints that capture what is sent.
    GameSession(ServerInterface& gameEndpoint, ServerInterface& adminEndpoint);
    // Empties the player table; sends nothing.
    ~GameSession();

    GameSession(const GameSession&) = delete;
    GameSession& operator=(const GameSession&) = delete;

    // One decrypted game datagram. `payload` holds exactly `length` - 1 readable bytes (the
    // datagram after its command byte); nothing past them is read.
    void processCommand(int command, const unsigned char* payload, const sockaddr_in* from,
                        int length);

    // True once an admin has shut the server down remotely; the main loop then ends.
    bool killServer() const { return m_shutdownRequested; }

    // Loads "motd.txt" from the current directory into the message-of-the-day packet, without
    // one final line end. False, leaving the loaded message as it was, when the file cannot be
    // opened.
    bool loadMessageOfTheDay();
    bool isMotdLoaded() const { return m_motdLoaded; }
    // The loaded message text (empty when none is loaded).
    const char* getMotdText() const { return reinterpret_cast<const char*>(m_motdPacket + 1); }
    const char* getMotdUrl() const { return m_motdUrl; }

    void setPasswordRequired(bool required) { m_passwordRequired = required; }
    bool isPasswordRequired() const { return m_passwordRequired; }
    void setAdminPlusEnabled(bool enabled) { m_adminPlusEnabled = enabled; }

    int getClientType() const { return m_clientType; }
    int getMapNumber() const { return m_mapNumber; }
    int getMaxPlayers() const { return m_maxPlayers; }
    PlayerList& getAdminList() { return m_adminList; }
    const std::map<std::string, JoinFlood>& getJoinFloodTable() const { return m_joinFloodTable; }
    const SessionCounters& getCounters() const { return m_counters; }
    // The game players' table, read-only, for reports.
    const PlayerList& getPlayers() const { return m_players; }

    // GameSessionEnvelope.cpp: the envelope of game datagrams. The encrypt operations seal
    // `length` bytes of `buffer` in place (it needs `length` + kEnvelopeOverhead bytes of
    // `capacity`) and return the envelope size, or -1 (unique: `to` is no joined player) or 0
    // (it does not fit). The decrypt operations open the envelope in place and return the inner
    // length, 0 when the datagram carries nothing usable, or -1 (unique: `from` is no joined
    // player).
    int encryptGeneralData(unsigned char* buffer, int length, int capacity);
    int decryptGeneralData(unsigned char* buffer, int received);
    int encryptUniqueData(const sockaddr_in* to, unsigned char* buffer, int length, int capacity);
    int decryptUniqueData(const sockaddr_in* from, unsigned char* buffer, int received);

    // GameSessionBroadcast.cpp: sends `length` bytes to every connected player but `exceptId`
    // (-1 for none), each under its own key, and unencrypted to every admin when `toAdmins`.
    void broadcastData(const unsigned char* data, int length, int exceptId, bool toAdmins);

    // GameSessionRelay.cpp: relays a player-state packet [10, sender, record] of `length`
    // bytes to every connected player but `exceptId` (-1 for none): the full packet, or the
    // sender's compact form to players who cannot see the sender when `useVisibility` is set.
    // Admins of level 2 get the compact form, unencrypted.
    void broadcastGameData(const unsigned char* packet, int length, int senderId, int exceptId,
                           bool useVisibility);

    // GameSessionJoin.cpp: the join reply with the game state, to a game client under the
    // general key (then the message of the day, if loaded) or unencrypted to an admin.
    void sendJoinResponse(const sockaddr_in* to, int id, bool forAdmin);

    // GameSessionHousekeeping.cpp: the main loop's periodic tasks.
    void handleChatFloodingPlayers(int maxCount);
    void resetChatFloodCountForAllPlayers();
    void handleJoinFloodingPlayers();
    void removeTimedOutPlayers(int timeoutSeconds);
    void updateAllPlayerTimeouts(int seconds);
    void pingAllPlayers();
    void handleClientCRCForAllPlayers();
    void sendTime();
    void sendWeather();
    // One game minute per call; the weather hold counts down by one.
    void tickClock();
    // Called at shutdown; players are not told.
    void notifyPlayersOfShutdown();
    // Writes how many noisy log lines were held back since the last call, if any.
    void reportSuppressedLogLines();

    // The admin level of an admin connection: 1 admin, 2 admin plus; -1 for no such admin.
    int getAdminType(int id) const;

    int getGameHour() const { return m_gameHour; }
    int getGameMins() const { return m_gameMins; }
    int getWeatherHold() const { return m_weatherHold; }
    int getWeather() const { return m_weather; }
    void setWeatherHold(int seconds) { m_weatherHold = seconds; }

    // admin/GameSessionAdmin.cpp: one admin datagram; `length` counts the command byte and
    // `payload` holds exactly `length` - 1 readable bytes.
    void processAdminCommand(int command, const unsigned char* payload, const sockaddr_in* from,
                             int length);

    static constexpr std::size_t kMotdPacketSize = 2024;
    static constexpr std::size_t kMotdUrlSize = 255;
    static constexpr std::uint32_t kCheckValue = 0x5A17C3E9;
    static constexpr int kStatisticsSlots = 50;

private:
    // GameSession.cpp
    void readMotdUrl();
    void logLine(const std::string& text) const;

    // GameSessionEnvelope.cpp: seal and send; nothing is sent when the packet does not fit.
    void sendGeneral(const sockaddr_in* to, const unsigned char* data, int length);
    void sendToPlayer(const Player& player, const unsigned char* data, int length);
    void sendToAdmins(const unsigned char* data, int length);

    // GameSessionJoin.cpp
    void handleJoinRequest(int id, const unsigned char* payload, const sockaddr_in* from,
                           int length);
    void refuseJoin(const sockaddr_in* to, int reason);
    // Tells the other players and the admins that `id` left for `reason` (the notice
    // [9, reason, id]) and counts it. The player must already be out of the table.
    void announceRemoval(int id, int reason);
    void announceJoin(int id, const char* nick, const sockaddr_in* from);
    void sendMotd(const Player& player);
    void handleQuit(int id);

    // GameSessionRelay.cpp
    void handleStateReport(int id, const unsigned char* payload, int length);
    // Writes [10, id, compact state] to `out` (32 bytes) and returns its length, 0 if none.
    int buildCompactPacket(int id, unsigned char* out);
    void storeStateRecord(int id, const unsigned char* record, int length);
    void logStateStatistics(const unsigned char* packet, int length);
    // Forgets what was logged for `id`, so a new player's first report is written.
    void resetStatistics(int id);

    // GameSessionGameplay.cpp. Each handler gets the sender's id and the datagram's payload
    // (`length` - 1 bytes) and ignores a datagram too short for its fields.
    void handleChat(int id, const unsigned char* payload, int length);
    void handlePrivateMessage(int id, int type, const std::string& line);
    void handlePingRequest(int id);
    void handlePingReply(int id, const unsigned char* payload, int length);
    void handleDeath(int id, const unsigned char* payload, int length);
    void handleScore(int id, const unsigned char* payload, int length);
    void handleTrainer(int id);
    void handleNickQuery(int id, const unsigned char* payload, int length);
    void handleSkinChange(int id, const unsigned char* payload, int length);
    void handleSkinQuery(int id, const unsigned char* payload, int length);
    void handleClientCheckReply(int id, const unsigned char* payload, int length);
    void handleMoney(int id, const unsigned char* payload, int length);
    void handleDeathPosition(int id, const unsigned char* payload, int length);
    void handleGameModeQuery(int id);
    void handleGameModeChange(int id, const unsigned char* payload, int length);
    // Removes a player whose ping or client check reply was wrong.
    void removeForWrongCheck(int id, const char* listenLine);
    // The ping-reply steps: reset the timeout, report the ping to all, take the reply stamp.
    void acceptPingReply(int id);
    void sendToId(int id, const unsigned char* data, int length);
    // The joined player a private-message token names ("#id" or a nick), or -1.
    int resolveRecipient(const std::string& token);
    std::string nickOf(int id);
    // Whether a log line that `from` can cause at will may be written now.
    bool allowNoisyLine(const sockaddr_in* from);

    // admin/GameSessionAdmin.cpp: login, quit, chat.
    void handleAdminLogin(int adminId, const unsigned char* payload, const sockaddr_in* from,
                          int length);
    void handleAdminQuit(int adminId);
    void handleAdminChat(int adminId, const unsigned char* payload, int length);
    void handleAdminPrivateMessage(int adminId, int type, const std::string& text,
                                   const std::string& logText);
    void replyToAdmin(const sockaddr_in* to, const unsigned char* data, int length);
    std::string adminNickOf(int adminId);

    // admin/GameSessionAdminCommands.cpp: the moderation and server-control commands.
    struct AdminRequest {
        int adminId;
        std::string nick;
        const sockaddr_in* from;
        const unsigned char* payload;
        std::size_t size;  // payload bytes
    };
    void handleAdminCommand(int adminId, int command, const unsigned char* payload, int length);
    void replyResult(const AdminRequest& request, int code, int result);
    void adminRemovePlayer(const AdminRequest& request, bool ban);
    void adminUnban(const AdminRequest& request);
    void adminBanList(const AdminRequest& request);
    void adminShutdown(const AdminRequest& request);
    void adminReloadMotd(const AdminRequest& request);
    void adminSetPassword(const AdminRequest& request);
    void adminBanAddress(const AdminRequest& request);
    void adminPlayerAddress(const AdminRequest& request);
    void adminResetScores(const AdminRequest& request);
    void adminSetTime(const AdminRequest& request);
    void adminResetMoney(const AdminRequest& request);
    void adminSetWeather(const AdminRequest& request);
    void adminAddMoney(const AdminRequest& request);
    void adminSaveMotd(const AdminRequest& request);

    PlayerList& m_players;
    PlayerList m_adminList;
    int m_clientType = 0;
    int m_mapNumber = 0;
    int m_gameMode = 0;
    int m_maxPlayers = 0;
    ServerInterface& m_gameEndpoint;
    ServerInterface& m_adminEndpoint;
    bool m_shutdownRequested = false;
    bool m_shutdownArmed = false;
    std::int64_t m_shutdownArmedTime = 0;
    bool m_chatToLog = true;
    int m_chatFloodCycle = 0;
    std::map<std::string, JoinFlood> m_joinFloodTable;
    CRijndael m_generalCipher;
    bool m_adminPlusEnabled = false;
    int m_gameHour = 0;
    int m_gameMins = 0;
    int m_weather = 0;
    bool m_randomWeather = false;
    int m_weatherHold = 0;
    bool m_passwordRequired = false;
    // The last vehicle selector and weapon written to the statistics log, by player id.
    int m_vehicleLog[kStatisticsSlots];
    int m_weaponLog[kStatisticsSlots];
    // Flags that only change at start-up, read once so the relay never looks them up.
    bool m_testmode = false;
    bool m_statLogging = false;
    unsigned char m_motdPacket[kMotdPacketSize] = {};
    char m_motdUrl[kMotdUrlSize] = {};
    bool m_motdLoaded = false;
    // Password comparisons (join and admin login) answer unauthenticated datagrams; beyond this
    // rate they are dropped unanswered, so guessing is slow and cannot be used to ban others.
    TokenBucket m_passwordChecks{10, 10};
    LogLimiter m_noisyLines;
    SessionCounters m_counters;
    // The copies of one fan-out, sent with one system call.
    SendBatch m_gameBatch;
};
