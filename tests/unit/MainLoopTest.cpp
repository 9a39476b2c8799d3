#include <cstring>
#include <memory>

#include "UnitSupport.h"
#include "admin/Ban.h"
#include "core/MainLoop.h"
#include "game/GameSession.h"
#include "game/PlayerList.h"
#include "net/AdminServer.h"
#include "net/Server.h"
#include "support/FakeEndpoint.h"
#include "support/TestClient.h"

namespace {

constexpr std::uint16_t kClientPort = 5000;

// The main loop's periodic part on a pinned clock: a session on fake endpoints, with the real
// (unopened) endpoints in the context for the send-limit period.
class MainLoopTest : public CoreTest {
protected:
    void SetUp() override {
        CoreTest::SetUp();
        setConf("GameMap", "3");
        setConf("MaxPlayers", "32");
        setConf("GameHour", "12");
        setConf("GameMins", "0");
        setConf("RandomWeather", "1");
        m_session = std::make_unique<GameSession>(m_game, m_admin);
        m_context.server = Server::getInstance();
        m_context.adminServer = AdminServer::getInstance();
        m_context.session = m_session.get();
    }
    void TearDown() override {
        m_session.reset();
        delete Server::getInstance();
        delete AdminServer::getInstance();
        delete PlayerList::getInstance();
        delete Ban::getInstance();
        CoreTest::TearDown();
    }

    int join(int host, const std::string& nick) {
        sockaddr_in from = loopbackAddress(host, kClientPort);
        Bytes request = TestClient::joinRequest(nick);
        m_session->processCommand(1, request.data() + 1, &from, static_cast<int>(request.size()));
        const unsigned char confirm[1] = {7};
        m_session->processCommand(7, confirm + 1, &from, 1);
        return PlayerList::getInstance()->getPlayerID(&from);
    }

    void answerPing(int host, int id) {
        sockaddr_in from = loopbackAddress(host, kClientPort);
        std::uint32_t v = TestClient::kCheckValue - static_cast<std::uint32_t>(id) + 3 - 7;
        const unsigned char reply[6] = {5,
                                        7,
                                        static_cast<unsigned char>(v),
                                        static_cast<unsigned char>(v >> 8),
                                        static_cast<unsigned char>(v >> 16),
                                        static_cast<unsigned char>(v >> 24)};
        m_session->processCommand(5, reply + 1, &from, sizeof(reply));
    }

    // What the player at `host` was sent, opened with its key; the record is cleared.
    std::vector<Bytes> takeReceived(int host, int id) {
        char key[20] = {};
        PlayerList::getInstance()->getPlainKey(id, key);
        std::uint8_t raw[16];
        std::memcpy(raw, key, sizeof(raw));
        std::vector<Bytes> out;
        sockaddr_in at = loopbackAddress(host, kClientPort);
        for (const SentDatagram& sent : m_game.sent) {
            if (sent.to.sin_addr.s_addr != at.sin_addr.s_addr) continue;
            std::optional<Bytes> opened = TestClient::open(raw, sent.bytes);
            if (opened) out.push_back(*opened);
        }
        m_game.sent.clear();
        return out;
    }

    FakeEndpoint m_game;
    FakeEndpoint m_admin;
    std::unique_ptr<GameSession> m_session;
    ServerContext m_context;
};

}  // namespace

// An administrator or a time daemon sets the wall clock back an hour. Housekeeping runs on the
// monotonic clock and goes on as before: pings every second (one report spoilt by the step,
// as a lost reply would), the silent player dropped on time, the time and weather packets on
// their periods, the game clock a minute a second. Only the log prefix shows the step.
TEST_F(MainLoopTest, WallClockSteppedBackAnHourLeavesHousekeepingRunning) {
    Log::getInstance()->setSTDTime(true);
    int ann = join(10, "Ann");  // never answers
    int bob = join(11, "Bob");
    ASSERT_GE(ann, 0);
    ASSERT_GE(bob, 0);
    takeReceived(11, bob);
    clearConsole();

    Schedule schedule;
    schedule.start(Clock::monotonicSeconds());
    int pings = 0, times = 0, weathers = 0, lastReport = -1, worstReport = 0;
    Clock::advanceMillis(1000);
    for (int second = 1; second <= 150; ++second) {
        runDueTasks(m_context, schedule);
        if (second == 5) Clock::pin(Clock::wallSeconds() - 3600, Clock::monotonicMillis());
        Clock::advanceMillis(20);
        answerPing(11, bob);
        for (const Bytes& got : takeReceived(11, bob)) {
            if (got == Bytes{4}) ++pings;
            if (got[0] == 32) ++times;
            if (got[0] == 33) ++weathers;
            if (got[0] == 22 && got.size() == 4) {
                lastReport = got[2] | (got[3] << 8);
                worstReport = std::max(worstReport, lastReport);
            }
        }
        ASSERT_EQ(PlayerList::getInstance()->doesPlayerExist(ann), second < 17) << second;
        Clock::advanceMillis(980);
    }
    EXPECT_EQ(pings, 150);
    EXPECT_EQ(times, 2);
    EXPECT_EQ(weathers, 1);
    EXPECT_EQ(worstReport, 1000) << "the reply that straddles the step";
    EXPECT_EQ(lastReport, 20);
    EXPECT_EQ(m_session->getGameHour(), 14);
    EXPECT_EQ(m_session->getGameMins(), 30);
    // 03:04:05 plus 17 seconds, less the hour.
    EXPECT_EQ(console(), "( 2:04:22) QUIT: 'Ann', PlayerID = 0 ... quit due to timeout.\n");
}
