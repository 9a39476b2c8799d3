// The soak run itself (entry point in Soak.h): starts the server with administration and the
// listing on, joins the players, logs a level-2 admin in, plays the script while sampling the
// server once a second, then reads the final state back and judges it. One thread, one epoll
// set over every socket and a timer. Members are grouped by the file that defines them.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "LatencyHistogram.h"
#include "Options.h"
#include "ServerLauncher.h"
#include "SoakScript.h"
#include "SoakVerdict.h"
#include "net/CRijndael.h"

namespace zevload {

class SoakRun {
public:
    explicit SoakRun(const Options& options);
    ~SoakRun();
    SoakRun(const SoakRun&) = delete;
    SoakRun& operator=(const SoakRun&) = delete;

    // Everything, with the summary on stdout. 0 when every criterion passed, 1 otherwise.
    int run();

    static constexpr const char* kAdminNick = "soakadmin";
    static constexpr const char* kAuditorNick = "soakaudit";
    static constexpr const char* kAdminPassword = "soak-admin";
    static constexpr const char* kAdminPlusPassword = "soak-admin-plus";

private:
    // Epoll tags: a player's index, or one of these.
    static constexpr std::uint32_t kAdminTag = 0x10000;
    static constexpr std::uint32_t kAuditorTag = 0x10001;
    static constexpr std::uint32_t kQueryTag = 0x10002;
    static constexpr std::uint32_t kTimerTag = 0x10003;

    struct Player {
        int fd = -1;
        int index = 0;
        int id = -1;
        // Between a join reply and the script's quit.
        bool joined = false;
        // A join request is out and unanswered.
        bool joining = false;
        // It has sent a datagram under its own key since it joined: the server relays the game
        // to a new player only from then on.
        bool heard = false;
        std::string nick;
        std::uint32_t sequence = 0;
        float x = 0.0f;
        float y = 0.0f;
        CRijndael cipher;
    };

    struct Admin {
        int fd = -1;
        bool loggedIn = false;
        bool refused = false;
    };

    struct Counters {
        std::uint64_t reportsSent = 0;
        // Copies of the reports due to the players that were in when each was sent.
        std::uint64_t copiesExpected = 0;
        std::uint64_t copiesReceived = 0;
        std::uint64_t pingsAnswered = 0;
        std::uint64_t keepAlives = 0;
        std::uint64_t feedPackets = 0;
        std::uint64_t chatSent = 0;
        std::uint64_t chatSeen = 0;
        std::uint64_t deaths = 0;
        std::uint64_t money = 0;
        std::uint64_t skins = 0;
        std::uint64_t rejoins = 0;
        std::uint64_t bans = 0;
        std::uint64_t unbans = 0;
        std::uint64_t statusQueries = 0;
        std::uint64_t statusReplies = 0;
        std::uint64_t sendErrors = 0;
        std::uint64_t unopened = 0;
        // The admin's pings during play: the last one, and the longest wait between two.
        std::uint64_t lastPingNanos = 0;
        std::uint64_t longestPingGapNanos = 0;
    };

    // SoakRun.cpp: setup, the timed play, sending.
    bool start();
    bool openSockets();
    bool watch(int fd, std::uint32_t tag);
    bool joinAll();
    bool logIn(Admin& admin, int level, const char* nick, const char* password);
    // Handles whatever arrives for up to `timeoutMs`, or until `done` holds.
    void pumpUntil(int timeoutMs, const std::function<bool()>& done);
    void play();
    bool onTimer();
    void sendDueReports(std::uint64_t now);
    void everySecond(std::uint64_t now);
    void sendSealed(Player& player, const unsigned char* data, int length);
    void sendJoinRequest(Player& player);
    void sendPlain(int fd, const unsigned char* data, int length);
    std::uint64_t nextWake() const;
    bool armTimer(std::uint64_t atNanos);
    Player* playerWithId(int id);

    // SoakEvents.cpp: the script's events, as they fall due. The senders return whether the
    // event went out (the ledger records only those).
    void runDueEvents(std::uint64_t now);
    void runEvent(const SoakEvent& event);
    bool sendPlayerEvent(Player& player, const SoakEvent& event);
    bool sendRejoin(Player& player);
    bool sendQuit(Player& player);
    bool sendDeath(Player& player, const SoakEvent& event);
    void sendAdminEvent(const SoakEvent& event);

    // SoakReceive.cpp: everything that arrives.
    void drain(std::uint32_t tag);
    void drainPlayer(Player& player);
    void onPlayerDatagram(Player& player, const unsigned char* data, int length);
    void onJoinAnswer(Player& player, const unsigned char* data, int length);
    void drainAdmin(Admin& admin);
    void onAdminDatagram(Admin& admin, const unsigned char* data, int length);
    void onLeaveNotice(int reason, int id);
    void onAdminReply(int code, int result);
    void drainQuery();

    // SoakAudit.cpp: the final state, the shutdown and the verdict.
    void audit();
    void noteLooseEnds();
    void askFinalState();
    void stopServerAndRead();
    void printFigures() const;

    Options m_options;
    SoakSettings m_settings;
    SoakPlan m_plan;
    SoakLedger m_ledger;
    SoakObservations m_seen;
    Counters m_counts;
    LatencyHistogram m_latency;

    LaunchedServer m_server;
    int m_adminPort = 0;
    std::vector<Player> m_players;
    Admin m_admin;
    Admin m_auditor;
    int m_query = -1;
    int m_epoll = -1;
    int m_timer = -1;
    CRijndael m_generalCipher;

    // Monotonic nanoseconds: the play runs from m_playStart to m_playEnd.
    std::uint64_t m_playStart = 0;
    std::uint64_t m_playEnd = 0;
    double m_reportSlotNanos = 0.0;
    std::uint64_t m_reportSlot = 0;
    std::size_t m_nextEvent = 0;
    std::uint64_t m_nextSecond = 0;
    bool m_serverGone = false;

    // Ids the script made leave, until the admin sees their leave notice.
    std::multiset<int> m_pendingQuits;
    // Admin replies still due: the reply code of each request, in order.
    std::deque<int> m_pendingAdminReplies;
    // Monotonic whole seconds in which the admin received a ping.
    std::set<std::int64_t> m_pingSeconds;
    // In the audit: the answers being collected, and the final quits, which are not judged.
    bool m_collectSkins = false;
    bool m_collectStatus = false;
    bool m_closing = false;
};

}  // namespace zevload
