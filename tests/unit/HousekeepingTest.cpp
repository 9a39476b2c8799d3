#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "UnitSupport.h"
#include "admin/Ban.h"
#include "game/GameSession.h"
#include "game/PlayerList.h"
#include "support/FakeEndpoint.h"
#include "support/TestClient.h"

namespace {

// A session on fake endpoints with a pinned clock; players join through processCommand and
// what they receive is opened with their own keys.
class HousekeepingTest : public CoreTest {
protected:
    void SetUp() override {
        CoreTest::SetUp();
        setConf("GameMap", "3");
        setConf("MaxPlayers", "32");
        setConf("GameHour", "23");
        setConf("GameMins", "59");
        m_session = std::make_unique<GameSession>(m_game, m_admin);
    }
    void TearDown() override {
        m_session.reset();
        delete PlayerList::getInstance();
        delete Ban::getInstance();
        CoreTest::TearDown();
    }

    PlayerList& players() { return *PlayerList::getInstance(); }

    int join(int host, const std::string& nick) {
        sockaddr_in from = loopbackAddress(host, 5000);
        Bytes request = TestClient::joinRequest(nick);
        m_session->processCommand(1, request.data() + 1, &from, static_cast<int>(request.size()));
        // A client's first datagram under its own key lets the game reach it.
        const unsigned char confirm[1] = {7};
        m_session->processCommand(7, confirm + 1, &from, 1);
        return players().getPlayerID(&from);
    }

    void deliver(int id, const Bytes& datagram) {
        const sockaddr_in* from = players().getPlayerAddr(id);
        ASSERT_NE(from, nullptr);
        sockaddr_in copy = *from;
        m_session->processCommand(datagram[0], datagram.data() + 1, &copy,
                                  static_cast<int>(datagram.size()));
    }

    // Everything sent to the player `id` had, opened with its key; sent datagrams are cleared.
    std::vector<Bytes> receivedBy(int host, const std::uint8_t key[16]) {
        std::vector<Bytes> out;
        sockaddr_in at = loopbackAddress(host, 5000);
        for (const SentDatagram& d : m_game.sent) {
            if (d.to.sin_addr.s_addr != at.sin_addr.s_addr) continue;
            std::optional<Bytes> opened = TestClient::open(key, d.bytes);
            if (opened) out.push_back(*opened);
        }
        return out;
    }

    void keyOf(int id, std::uint8_t key[16]) {
        char raw[20] = {};
        players().getPlainKey(id, raw);
        std::memcpy(key, raw, 16);
    }

    FakeEndpoint m_game;
    FakeEndpoint m_admin;
    std::unique_ptr<GameSession> m_session;
};

}  // namespace

TEST_F(HousekeepingTest, SilentPlayerIsDroppedAfterSixteenSeconds) {
    int ann = join(10, "Ann");
    int bob = join(11, "Bob");
    std::uint8_t bobKey[16];
    keyOf(bob, bobKey);
    for (int second = 1; second <= 16; ++second) {
        m_session->removeTimedOutPlayers(15);
        m_session->updateAllPlayerTimeouts(1);
        deliver(bob, Bytes{7});  // any datagram keeps a player alive
        ASSERT_TRUE(players().doesPlayerExist(ann)) << second;
    }
    EXPECT_EQ(players().getPlayerTimeout(ann), 16);
    m_game.sent.clear();
    clearConsole();
    m_session->removeTimedOutPlayers(15);
    EXPECT_FALSE(players().doesPlayerExist(ann));
    EXPECT_EQ(receivedBy(11, bobKey), (std::vector<Bytes>{{9, 2, 0}}));
    EXPECT_EQ(console(), "QUIT: 'Ann', PlayerID = 0 ... quit due to timeout.\n");
}

TEST_F(HousekeepingTest, AdminsTimeOutWithALogLineOnly) {
    sockaddr_in address = loopbackAddress(20, 6000);
    int admin = m_session->getAdminList().addPlayer(&address, "Boss", 2);
    m_session->getAdminList().updatePlayerTimeout(admin, 16);
    clearConsole();
    m_session->removeTimedOutPlayers(15);
    EXPECT_FALSE(m_session->getAdminList().doesPlayerExist(admin));
    EXPECT_EQ(console(), "ADMINPLUS-QUIT: 'Boss', ID = 0 ... quit due to timeout.\n");
    EXPECT_TRUE(m_game.sent.empty());
}

TEST_F(HousekeepingTest, PingReportAveragesTheLastTwoAndCapsLostReplies) {
    int ann = join(10, "Ann");
    std::uint8_t key[16];
    keyOf(ann, key);
    // Stamps run modulo 65536: start just below the wrap.
    Clock::pin(0, 0);
    Clock::advanceMillis(65536 - 20);
    auto pingRound = [&](int replyAfterMs) {
        m_session->pingAllPlayers();
        if (replyAfterMs < 0) return;
        Clock::advanceMillis(replyAfterMs);
        std::uint32_t v = TestClient::kCheckValue - static_cast<std::uint32_t>(ann) + 3 - 7;
        deliver(ann, Bytes{5, 7, static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                           static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)});
    };
    auto lastReport = [&]() -> int {
        std::vector<Bytes> got = receivedBy(10, key);
        m_game.sent.clear();
        for (auto it = got.rbegin(); it != got.rend(); ++it) {
            if ((*it)[0] == 22) return (*it)[2] | ((*it)[3] << 8);
        }
        return -1;
    };
    pingRound(10);  // measured at the next request
    Clock::advanceMillis(1000 - 10);
    lastReport();
    pingRound(31);
    EXPECT_EQ(lastReport(), 5) << "(10 + 0) / 2: the report lags one request";
    Clock::advanceMillis(1000 - 31);
    pingRound(31);
    EXPECT_EQ(lastReport(), 20) << "(31 + 10) / 2";
    Clock::advanceMillis(1000 - 31);
    pingRound(-1);  // this reply is lost
    EXPECT_EQ(lastReport(), -1) << "no reply, no report";
    Clock::advanceMillis(1000);
    pingRound(40);
    EXPECT_EQ(lastReport(), 1000);
    Clock::advanceMillis(1000 - 40);
    pingRound(40);
    EXPECT_EQ(lastReport(), 1000);
    Clock::advanceMillis(1000 - 40);
    pingRound(40);
    EXPECT_EQ(lastReport(), 40);
}

TEST_F(HousekeepingTest, ChatFloodKicksOrBans) {
    for (bool ban : {false, true}) {
        SCOPED_TRACE(ban ? "ban" : "kick");
        setConf("BanOnChatFlood", ban ? "1" : "0");
        int host = ban ? 30 : 20;
        int flooder = join(host, ban ? "Flo" : "Fred");
        int calm = join(host + 1, ban ? "Cal" : "Carl");
        std::uint8_t flooderKey[16];
        keyOf(flooder, flooderKey);
        // Two lines a second is the limit: they stay.
        deliver(flooder, {3, 0, 'a', 0});
        deliver(flooder, {3, 0, 'b', 0});
        m_session->handleChatFloodingPlayers(2);
        ASSERT_TRUE(players().doesPlayerExist(flooder));
        for (char line : {'c', 'd', 'e'})
            deliver(flooder, {3, 0, static_cast<std::uint8_t>(line), 0});
        m_game.sent.clear();
        clearConsole();
        m_session->handleChatFloodingPlayers(2);
        EXPECT_FALSE(players().doesPlayerExist(flooder));
        EXPECT_TRUE(players().doesPlayerExist(calm));
        EXPECT_EQ(receivedBy(host, flooderKey),
                  (std::vector<Bytes>{{6, static_cast<std::uint8_t>(ban ? 1 : 3)}}));
        std::string address = "127.0.0." + std::to_string(host);
        EXPECT_EQ(Ban::getInstance()->isBanned(address.c_str()), ban);
        EXPECT_EQ(console(), ban ? "BANNED: 'Flo', PlayerID = " + std::to_string(flooder) +
                                       " ... banned due to chat flood.\n"
                                 : "QUIT: 'Fred', PlayerID = " + std::to_string(flooder) +
                                       " ... quit due to chat flood.\n");
    }
}

TEST_F(HousekeepingTest, RepeatedChatIsForgottenEveryFourthSecond) {
    int ann = join(10, "Ann");
    deliver(ann, {3, 0, 'h', 'i', 0});
    EXPECT_TRUE(players().isChatRepeated(ann, "hi"));
    for (int second = 1; second <= 3; ++second) m_session->resetChatFloodCountForAllPlayers();
    EXPECT_TRUE(players().isChatRepeated(ann, "hi"));
    m_session->resetChatFloodCountForAllPlayers();
    EXPECT_FALSE(players().isChatRepeated(ann, "hi"));
}

TEST_F(HousekeepingTest, JoinFloodBansOnTheThirdRequest) {
    for (int requests : {2, 3}) {
        SCOPED_TRACE(requests);
        int host = 40 + requests;
        std::string address = "127.0.0." + std::to_string(host);
        int id = join(host, "J" + std::to_string(requests));
        ASSERT_GE(id, 0);
        sockaddr_in again = loopbackAddress(host, 5001);
        Bytes request = TestClient::joinRequest("Other");
        for (int i = 1; i < requests; ++i) {
            m_session->processCommand(1, request.data() + 1, &again,
                                      static_cast<int>(request.size()));
        }
        for (int second = 1; second <= 5; ++second) m_session->handleJoinFloodingPlayers();
        EXPECT_EQ(m_session->getJoinFloodTable().count(address), 1u);
        m_session->handleJoinFloodingPlayers();
        EXPECT_EQ(m_session->getJoinFloodTable().count(address), 0u);
        EXPECT_EQ(Ban::getInstance()->isBanned(address.c_str()), requests == 3);
        EXPECT_TRUE(players().doesPlayerExist(id)) << "the joined player stays";
    }
}

TEST_F(HousekeepingTest, UnansweredClientChecksDropThePlayerOnTheNinthRun) {
    int ann = join(10, "Ann");
    int bob = join(11, "Bob");
    std::uint8_t annKey[16];
    std::uint8_t bobKey[16];
    keyOf(ann, annKey);
    keyOf(bob, bobKey);
    for (int run = 1; run <= 8; ++run) {
        m_session->handleClientCRCForAllPlayers();
        deliver(bob, {25, 0xE9, 0xC3, 0x17, 0x5A});
    }
    std::vector<Bytes> annGot = receivedBy(10, annKey);
    EXPECT_EQ(std::count(annGot.begin(), annGot.end(), Bytes{25}), 8);
    m_game.sent.clear();
    m_session->handleClientCRCForAllPlayers();
    EXPECT_FALSE(players().doesPlayerExist(ann));
    EXPECT_TRUE(players().doesPlayerExist(bob));
    EXPECT_EQ(receivedBy(10, annKey), (std::vector<Bytes>{{6, 9}}));
    std::vector<Bytes> bobGot = receivedBy(11, bobKey);
    EXPECT_EQ(bobGot, (std::vector<Bytes>{{25}, {9, 6, 0}}));
}

TEST_F(HousekeepingTest, WeatherDrawAndHold) {
    setConf("RandomWeather", "1");
    m_session = std::make_unique<GameSession>(m_game, m_admin);
    sockaddr_in address = loopbackAddress(20, 6000);
    m_session->getAdminList().addPlayer(&address, "Boss", 1);
    // The draw's thresholds against the generator's own sequence.
    for (unsigned seed : {1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u}) {
        SCOPED_TRACE(seed);
        std::srand(seed);
        int draw = std::rand() % 51;
        int expected = draw <= 25 ? 0 : draw <= 35 ? 1 : draw <= 43 ? 2 : 3;
        std::srand(seed);
        m_admin.sent.clear();
        m_session->sendWeather();
        EXPECT_EQ(m_session->getWeather(), expected);
        ASSERT_EQ(m_admin.sent.size(), 1u);
        EXPECT_EQ(m_admin.sent[0].bytes, (Bytes{33, static_cast<std::uint8_t>(expected)}));
    }
    int held = m_session->getWeather();
    m_session->setWeatherHold(120);
    for (int i = 0; i < 20; ++i) {
        m_session->sendWeather();
        EXPECT_EQ(m_session->getWeather(), held);
    }
    for (int second = 0; second < 120; ++second) m_session->tickClock();
    EXPECT_EQ(m_session->getWeatherHold(), 0);
}

TEST_F(HousekeepingTest, TimeGoesToPlayersEncryptedAndAdminsPlain) {
    int ann = join(10, "Ann");
    std::uint8_t key[16];
    keyOf(ann, key);
    sockaddr_in address = loopbackAddress(20, 6000);
    m_session->getAdminList().addPlayer(&address, "Boss", 1);
    m_game.sent.clear();
    m_session->tickClock();  // 23:59 -> 0:00
    m_session->sendTime();
    EXPECT_EQ(receivedBy(10, key), (std::vector<Bytes>{{32, 0, 0, 0}}));
    ASSERT_EQ(m_admin.sent.size(), 1u);
    EXPECT_EQ(m_admin.sent[0].bytes, (Bytes{32, 0, 0, 0}));
}
