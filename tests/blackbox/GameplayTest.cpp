#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/ServerProcess.h"
#include "support/TestClient.h"

namespace {

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

Bytes text(const std::string& characters) { return Bytes(characters.begin(), characters.end()); }

Bytes xyz(float x, float y, float z) {
    Bytes out;
    for (float value : {x, y, z}) {
        std::uint32_t bits = 0;
        std::memcpy(&bits, &value, sizeof(bits));
        for (int shift = 0; shift < 32; shift += 8) {
            out.push_back(static_cast<std::uint8_t>(bits >> shift));
        }
    }
    return out;
}

const Bytes kHeading = {0x11, 0x22, 0x33, 0x44};

// On foot at (x, y, 7); the trailing tag 3 field is not part of the compact form.
Bytes onFoot(float x, float y) { return cat({{0}, kHeading, {1}, xyz(x, y, 7), {2, 5, 3, 1}}); }

// Driving vehicle 5 at (x, y, 3) on a Liberty City map, then a field the compact form leaves out.
Bytes driving(float x, float y) { return cat({{5}, kHeading, {14}, xyz(x, y, 3), {2, 9}}); }

Bytes relay(const TestClient& sender, const Bytes& record) {
    return cat({{10, static_cast<std::uint8_t>(sender.id())}, record});
}

Bytes chat(const std::string& line) { return cat({{3, 0}, text(line), {0}}); }

Bytes chatLine(const TestClient& sender, const std::string& line) {
    return cat({{3, static_cast<std::uint8_t>(sender.id()), 0}, text(line), {0}});
}

class GameplayTest : public ::testing::Test {
protected:
    // Starts the server and joins one client per nick, in order, each from an address of its
    // own. Chat floods are judged every second; the tests chat faster than players do.
    void start(const std::map<std::string, std::string>& extra,
               const std::vector<std::string>& nicks) {
        m_config = TestConfig::standard();
        m_config.entries["ChatFloodMaxCount"] = "100";
        for (const auto& [key, value] : extra) m_config.entries[key] = value;
        m_server.writeConfig(m_config);
        ASSERT_TRUE(m_server.startAndWaitReady()) << m_server.consoleText();
        for (const std::string& nick : nicks) {
            m_clients.push_back(std::make_unique<TestClient>(
                m_config.gamePort(), "127.0.0." + std::to_string(10 + m_clients.size())));
            std::optional<Bytes> reply = m_clients.back()->join(nick);
            ASSERT_TRUE(reply.has_value() && !reply->empty()) << nick;
            ASSERT_EQ((*reply)[0], 1)
                << nick << " refused with reason " << int(reply->size() > 1 ? (*reply)[1] : -1);
        }
    }

    TestClient& player(std::size_t index) { return *m_clients[index]; }

    // `sender` says a fresh chat line that every player receives; returns what `receiver` got
    // before it. The server handles one sender's datagrams in order, so whatever an earlier
    // datagram of `sender` made the server send to `receiver` is in the list.
    std::vector<Bytes> before(TestClient& sender, TestClient& receiver) {
        const std::string line = "sync " + std::to_string(m_syncCount++);
        EXPECT_TRUE(sender.send(chat(line)));
        std::vector<Bytes> got;
        while (std::optional<Bytes> datagram = receiver.receive()) {
            if (*datagram == chatLine(sender, line)) return got;
            got.push_back(*datagram);
        }
        ADD_FAILURE() << "the chat line did not arrive";
        return got;
    }

    static bool hasCode(const std::vector<Bytes>& datagrams, std::uint8_t code) {
        for (const Bytes& d : datagrams) {
            if (!d.empty() && d[0] == code) return true;
        }
        return false;
    }

    TestConfig m_config;
    ServerProcess m_server;
    std::vector<std::unique_ptr<TestClient>> m_clients;
    int m_syncCount = 0;
};

}  // namespace

TEST_F(GameplayTest, OnFootReportReachesTheOthersInFull) {
    ASSERT_NO_FATAL_FAILURE(start({}, {"Ann", "Bob", "Cy"}));
    TestClient& ann = player(0);
    const Bytes record = onFoot(0, 0);
    ASSERT_TRUE(ann.send(cat({{10}, record})));
    EXPECT_EQ(player(1).waitFor(10), relay(ann, record));
    EXPECT_EQ(player(2).waitFor(10), relay(ann, record));
    EXPECT_FALSE(hasCode(before(ann, ann), 10));
}

TEST_F(GameplayTest, FarDriverIsRelayedInCompactForm) {
    ASSERT_NO_FATAL_FAILURE(start({}, {"Ann", "Far", "Near"}));
    TestClient& ann = player(0);
    TestClient& distant = player(1);
    TestClient& nearby = player(2);

    // Each receiver stands somewhere first; waiting for the other's relay keeps the order.
    const Bytes farAway = onFoot(1000, 0);
    ASSERT_TRUE(distant.send(cat({{10}, farAway})));
    ASSERT_EQ(nearby.waitFor(10), relay(distant, farAway));
    const Bytes close = onFoot(100, 0);
    ASSERT_TRUE(nearby.send(cat({{10}, close})));
    ASSERT_EQ(distant.waitFor(10), relay(nearby, close));

    const Bytes driver = driving(0, 0);
    ASSERT_TRUE(ann.send(cat({{10}, driver})));
    EXPECT_EQ(distant.waitFor(10),
              cat({{10, static_cast<std::uint8_t>(ann.id()), 5}, kHeading, {14}, xyz(0, 0, 3)}));
    EXPECT_EQ(nearby.waitFor(10), relay(ann, driver));
}

TEST_F(GameplayTest, TestmodeEchoesTheReportToItsSender) {
    ASSERT_NO_FATAL_FAILURE(start({{"Testmode", "1"}}, {"Ann"}));
    TestClient& ann = player(0);
    const Bytes record = driving(0, 0);
    ASSERT_TRUE(ann.send(cat({{10}, record})));
    EXPECT_EQ(ann.waitFor(10), relay(ann, record));
}

TEST_F(GameplayTest, ChatReachesEveryoneAndPrivateMessageOnlyItsRecipient) {
    ASSERT_NO_FATAL_FAILURE(start({}, {"Ann", "Bob", "Cy"}));
    TestClient& ann = player(0);
    TestClient& bob = player(1);
    TestClient& cy = player(2);

    ASSERT_TRUE(ann.send(chat("hello all")));
    for (TestClient* receiver : {&ann, &bob, &cy}) {
        EXPECT_EQ(receiver->waitFor(3), chatLine(ann, "hello all"));
    }
    EXPECT_TRUE(m_server.waitForText("server.log", "---> Ann: hello all", 2000));

    ASSERT_TRUE(ann.send(chat("/msg bob psst")));
    EXPECT_EQ(bob.waitFor(3), chatLine(ann, "/msg psst"));
    EXPECT_EQ(ann.waitFor(3), chatLine(ann, "/msgr psst"));
    EXPECT_FALSE(hasCode(before(ann, cy), 3));
}

TEST_F(GameplayTest, DeathByAnotherPlayerRaisesTheKillersScore) {
    ASSERT_NO_FATAL_FAILURE(start({}, {"Ann", "Bob"}));
    TestClient& ann = player(0);
    TestClient& bob = player(1);
    ASSERT_TRUE(bob.send(Bytes{11, static_cast<std::uint8_t>(ann.id()), 5}));
    const Bytes death = {
        11, static_cast<std::uint8_t>(bob.id()), static_cast<std::uint8_t>(ann.id()), 5, 0, 0, 0};
    const Bytes score = {12, static_cast<std::uint8_t>(ann.id()), 1, 0};
    for (TestClient* receiver : {&ann, &bob}) {
        EXPECT_EQ(receiver->waitFor(11), death);
        EXPECT_EQ(receiver->waitFor(12), score);
    }
}

TEST_F(GameplayTest, MoneyIsRelayedOnLibertyCity) {
    ASSERT_NO_FATAL_FAILURE(start({}, {"Ann", "Bob"}));
    TestClient& ann = player(0);
    ASSERT_TRUE(ann.send(Bytes{36, 0x10, 0x27, 0, 0}));
    EXPECT_EQ(player(1).waitFor(36),
              (Bytes{36, static_cast<std::uint8_t>(ann.id()), 0x10, 0x27, 0, 0}));
}

TEST_F(GameplayTest, MoneyIsIgnoredOnViceCity) {
    ASSERT_NO_FATAL_FAILURE(start({{"GameMap", "1"}, {"MaxPlayers", "26"}}, {"Ann", "Bob"}));
    TestClient& ann = player(0);
    ASSERT_TRUE(ann.send(Bytes{36, 0x10, 0x27, 0, 0}));
    EXPECT_FALSE(hasCode(before(ann, player(1)), 36));
}

TEST_F(GameplayTest, NickQueryAndGameMode) {
    ASSERT_NO_FATAL_FAILURE(start({}, {"Ann", "Bob"}));
    TestClient& ann = player(0);
    TestClient& bob = player(1);

    ASSERT_TRUE(ann.send(Bytes{20, static_cast<std::uint8_t>(bob.id())}));
    EXPECT_EQ(ann.waitFor(20), (Bytes{20, static_cast<std::uint8_t>(bob.id()), 'B', 'o', 'b'}));

    ASSERT_TRUE(ann.send(Bytes{42, 3}));
    EXPECT_EQ(bob.waitFor(41), (Bytes{41, 3}));
    EXPECT_FALSE(hasCode(before(ann, ann), 41));
    EXPECT_TRUE(m_server.waitForText("server.log", "GameMode was changed to 3 by Ann", 2000));
    ASSERT_TRUE(bob.send(Bytes{41}));
    EXPECT_EQ(bob.waitFor(41), (Bytes{41, 3}));

    // A newcomer learns the mode from its join reply.
    TestClient cy(m_config.gamePort(), "127.0.0.20");
    std::optional<Bytes> reply = cy.join("Cy");
    ASSERT_TRUE(reply.has_value());
    ASSERT_GE(reply->size(), 4u);
    EXPECT_EQ((*reply)[3], 3);
}
