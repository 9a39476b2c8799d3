#include <cstring>
#include <memory>

#include "UnitSupport.h"
#include "admin/Ban.h"
#include "game/GameSession.h"
#include "game/PlayerList.h"
#include "support/FakeEndpoint.h"
#include "support/TestClient.h"

namespace {

// A session on fake endpoints, fed decrypted datagrams the way the main loop feeds them.
class GameSessionJoinTest : public CoreTest {
protected:
    void SetUp() override {
        CoreTest::SetUp();
        setConf("GameMap", "3");
        setConf("MaxPlayers", "32");
        setConf("GameHour", "12");
        setConf("GameMins", "30");
        setConf("ServerName", "\"Unit Server\"");
        m_game = std::make_unique<FakeEndpoint>();
        m_admin = std::make_unique<FakeEndpoint>();
        m_session = std::make_unique<GameSession>(*m_game, *m_admin);
        clearConsole();
    }
    void TearDown() override {
        m_session.reset();
        delete PlayerList::getInstance();
        delete Ban::getInstance();
        CoreTest::TearDown();
    }

    void deliver(const sockaddr_in& from, const Bytes& datagram) {
        m_session->processCommand(static_cast<signed char>(datagram[0]), datagram.data() + 1, &from,
                                  static_cast<int>(datagram.size()));
    }

    // The datagrams sent to `to`, opened with the general key.
    std::vector<Bytes> generalTo(const sockaddr_in& to) {
        std::vector<Bytes> out;
        for (const SentDatagram& d : m_game->sent) {
            if (d.to.sin_addr.s_addr != to.sin_addr.s_addr || d.to.sin_port != to.sin_port)
                continue;
            std::optional<Bytes> opened = TestClient::open(TestClient::kDefaultGeneralKey, d.bytes);
            if (opened) out.push_back(*opened);
        }
        return out;
    }

    std::unique_ptr<FakeEndpoint> m_game;
    std::unique_ptr<FakeEndpoint> m_admin;
    std::unique_ptr<GameSession> m_session;
};

}  // namespace

TEST_F(GameSessionJoinTest, ReplyListsOtherPlayersWithScoreAndMoney) {
    sockaddr_in ann = loopbackAddress(10, 5000);
    deliver(ann, TestClient::joinRequest("Ann"));
    PlayerList::getInstance()->setPlayerScore(0, 3);

    sockaddr_in bob = loopbackAddress(11, 5000);
    deliver(bob, TestClient::joinRequest("Bob"));
    std::vector<Bytes> replies = generalTo(bob);
    ASSERT_EQ(replies.size(), 1u);
    const Bytes& reply = replies[0];
    ASSERT_EQ(reply.size(), 342u + 11u);
    EXPECT_EQ(reply[4], 1);
    EXPECT_EQ(Bytes(reply.end() - 11, reply.end()),
              (Bytes{0x00, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 'A', 'n', 'n', 0x07}));
    char key[20] = {};
    PlayerList::getInstance()->getPlainKey(1, key);
    EXPECT_EQ(0, std::memcmp(reply.data() + 21, key, 16));
    EXPECT_EQ(console(),
              "JOIN: 'Ann', PlayerID = 0 (127.0.0.10)\nJOIN: 'Bob', PlayerID = 1 (127.0.0.11)\n");
}

TEST_F(GameSessionJoinTest, ShortRequestGetsNoAnswer) {
    sockaddr_in from = loopbackAddress(10, 5000);
    deliver(from, Bytes{1, '2', 0, 0xE9, 0xC3, 0x17});
    EXPECT_TRUE(m_game->sent.empty());
    EXPECT_TRUE(m_session->getJoinFloodTable().empty());
}

TEST_F(GameSessionJoinTest, JoinFloodCountsAttemptsPerAddress) {
    sockaddr_in first = loopbackAddress(10, 5000);
    deliver(first, TestClient::joinRequest("Ann"));
    deliver(first, Bytes{2});
    sockaddr_in otherPort = loopbackAddress(10, 5001);
    deliver(otherPort, TestClient::joinRequest("Ann"));
    deliver(otherPort, TestClient::joinRequest("Ann"));
    std::vector<Bytes> answers = generalTo(otherPort);
    ASSERT_EQ(answers.size(), 2u);
    EXPECT_EQ(answers[1], (Bytes{6, 12}));
    ASSERT_EQ(m_session->getJoinFloodTable().count("127.0.0.10"), 1u);
    EXPECT_EQ(m_session->getJoinFloodTable().at("127.0.0.10").attempts, 3u);
}

TEST_F(GameSessionJoinTest, WrongPasswordIsLoggedWithControlBytesEscaped) {
    setConf("ServerPassword", "right");
    m_session->setPasswordRequired(true);
    sockaddr_in from = loopbackAddress(10, 5000);
    deliver(from, TestClient::joinRequest("Ann", "wr\nong"));
    EXPECT_EQ(generalTo(from), (std::vector<Bytes>{{6, 4}}));
    EXPECT_EQ(console(),
              "ERROR: Unable to add 'Ann' from '127.0.0.10,' password is incorrect.\nwr\\x0Aong\n");
}
