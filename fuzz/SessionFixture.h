// A game session on counting endpoints, rebuilt for every input so that each input replays
// alone: the fuzzers of the game port and the admin port drive it, and the seed generator builds
// its datagrams from the same constants.
#pragma once

#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "game/GameSession.h"

namespace fuzz {

constexpr const char* kServerPassword = "secret";
constexpr const char* kAdminPassword = "adminpw";
constexpr const char* kAdminPlusPassword = "pluspw";
constexpr int kMaxPlayers = 5;
// The ban list every input starts from: a wildcard over 10.9.x.x and one address.
constexpr const char* kBanFileContent = "10.9.0.0\n1.2.3.4\n";
constexpr const char* kMotdContent = "Welcome to the fuzzed server\n";

// The players the fixture joins, in id order.
constexpr const char* kPlayerNicks[3] = {"Ann", "bob", "Cy"};
sockaddr_in playerAddress(int index);
// Addresses that have not joined: 0 and 1 share an address on two ports, 2 is another address,
// 3 is inside the banned wildcard.
sockaddr_in newcomerAddress(int index);
// Admin-port senders: 0 is the admin the fixture logs in, 1 the same address on another port,
// 2 another address, 3 a banned address.
sockaddr_in adminAddress(int index);

// [1, '2', kind, check value, nick, '|', password, 0]: a join request as a client sends it.
std::vector<std::uint8_t> joinRequest(const std::string& nick, const std::string& password);
// [13, '0', level, nick, '|', password, 0]: an admin login.
std::vector<std::uint8_t> adminLogin(int level, const std::string& nick,
                                     const std::string& password);

struct SessionOptions {
    int map = 3;
    bool testmode = false;
    bool statLogging = false;
    bool debugOutput = false;
    bool randomWeather = false;
    bool banOnChatFlood = false;
    bool passwordRequired = false;
    bool adminPlus = true;
    bool allowShutdown = false;
    bool serverPasswordKey = true;  // ServerPassword has a value an admin may replace
    bool motdFile = false;          // "motd.txt" exists and is loaded at start
    bool chatToLog = true;
};

class SessionFixture {
public:
    // Once per process, from LLVMFuzzerInitialize: a quiet log, the scratch folder as working
    // directory, the settings. Refuses relative input paths on the command line, which would no
    // longer resolve.
    static void setUpProcess(int argc, char** argv);

    // Resets time, the ban list, the bad-password list, the settings and "motd.txt", then builds
    // the session with nobody joined.
    explicit SessionFixture(const SessionOptions& options);
    // Destroys the session and empties the vehicle list.
    ~SessionFixture();

    SessionFixture(const SessionFixture&) = delete;
    SessionFixture& operator=(const SessionFixture&) = delete;

    GameSession& session() { return *m_session; }

    // Joins the first `count` players of kPlayerNicks through plain join requests.
    void joinPlayers(int count);
    // Logs an admin in from adminAddress(0).
    void loginAdmin(int level, const char* nick);

    // One game datagram as the main loop hands it over: a sealed one is opened first with the
    // sender's key, else with the general key, and dropped when nothing usable comes out.
    void deliverGame(const sockaddr_in& from, const std::vector<std::uint8_t>& datagram,
                     bool sealed);
    // One admin datagram, unencrypted.
    void deliverAdmin(const sockaddr_in& from, const std::vector<std::uint8_t>& datagram);
    // One second of the main loop's periodic tasks; `selector` picks the slower ones and how
    // many seconds the player timeouts age.
    void tick(std::uint8_t selector);

private:
    std::unique_ptr<CountingEndpoint> m_game;
    std::unique_ptr<CountingEndpoint> m_admin;
    std::unique_ptr<GameSession> m_session;
};

}  // namespace fuzz
