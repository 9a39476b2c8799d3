// The state of the running game, and the handler of every datagram that arrives on the game and
// admin ports. Built once by the main loop after the configuration, the log and both endpoints
// exist; destroyed when the loop ends. Members are grouped by the file that defines them.
#pragma once

#include <netinet/in.h>

#include <cstddef>

class GameSession {
public:
    // GameSession.cpp: construction, dispatch, message of the day.
    GameSession();
    ~GameSession();

    GameSession(const GameSession&) = delete;
    GameSession& operator=(const GameSession&) = delete;

    // One decrypted game datagram. `payload` holds exactly `length` - 1 readable bytes (the
    // datagram after its command byte); nothing past them may be read.
    void processCommand(int command, const unsigned char* payload, const sockaddr_in* from,
                        int length);

    // True once an admin has shut the server down remotely; the main loop then ends.
    bool killServer() const { return m_shutdownRequested; }

    // Loads "motd.txt" from the current directory into the message-of-the-day packet. False,
    // with no message loaded, when the file cannot be opened.
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

    // GameSessionEnvelope.cpp: the encryption envelope of game datagrams. Both work in place
    // and return the length of the datagram inside, or -1 (unique) / 0 or less (general) when
    // there is no usable datagram.
    int decryptUniqueData(const sockaddr_in* from, unsigned char* data, int length);
    int decryptGeneralData(unsigned char* data, int length);

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

    int getGameHour() const { return m_gameHour; }
    int getGameMins() const { return m_gameMins; }
    int getWeatherHold() const { return m_weatherHold; }
    void setWeatherHold(int seconds) { m_weatherHold = seconds; }

    // GameSessionAdmin.cpp: one admin datagram; `length` counts the command byte and `payload`
    // holds exactly `length` - 1 readable bytes.
    void processAdminCommand(int command, const unsigned char* payload, const sockaddr_in* from,
                             int length);

    static constexpr std::size_t kMotdPacketSize = 2024;
    static constexpr std::size_t kMotdUrlSize = 255;

private:
    void readMotdUrl();

    int m_clientType = 0;
    int m_mapNumber = 0;
    int m_gameMode = 0;
    int m_maxPlayers = 0;
    bool m_shutdownRequested = false;
    bool m_chatToLog = true;
    bool m_adminPlusEnabled = false;
    int m_gameHour = 0;
    int m_gameMins = 0;
    int m_weather = 0;
    bool m_randomWeather = false;
    int m_weatherHold = 0;
    bool m_passwordRequired = false;
    unsigned char m_motdPacket[kMotdPacketSize] = {};
    char m_motdUrl[kMotdUrlSize] = {};
    bool m_motdLoaded = false;
};
