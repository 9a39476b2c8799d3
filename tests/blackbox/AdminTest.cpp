#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "support/AdminServerTest.h"
#include "support/ServerProcess.h"
#include "support/TestClient.h"
#include "support/UdpPeer.h"

namespace {

constexpr const char* kPassword = "a-rather-long-admin-password-0123456789";
constexpr const char* kPlusPassword = "plus-password";

// An admin client: plain datagrams on the admin port from its own loopback address.
class AdminClient {
public:
    AdminClient(std::uint16_t adminPort, const std::string& address)
        : m_peer(address), m_port(adminPort) {}

    bool send(const Bytes& datagram) { return m_peer.sendTo(m_port, datagram); }

    // [13, "0", level, nick, "|", password, NUL].
    static Bytes loginRequest(int level, const std::string& nick, const std::string& password) {
        Bytes out{13, '0', static_cast<std::uint8_t>(level)};
        out.insert(out.end(), nick.begin(), nick.end());
        out.push_back('|');
        out.insert(out.end(), password.begin(), password.end());
        out.push_back(0);
        return out;
    }

    // The next datagram whose first byte is `code`; pings and other traffic are skipped.
    std::optional<Bytes> waitFor(std::uint8_t code, int timeoutMs = 2000) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (true) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                            deadline - std::chrono::steady_clock::now())
                            .count();
            if (left <= 0) return std::nullopt;
            Bytes datagram;
            if (!m_peer.receive(datagram, static_cast<int>(left))) return std::nullopt;
            if (!datagram.empty() && datagram[0] == code) return datagram;
        }
    }

    // The answer to a login: the join response [1, ...] or a refusal [6, reason].
    std::optional<Bytes> login(int level, const std::string& nick, const std::string& password) {
        if (!send(loginRequest(level, nick, password))) return std::nullopt;
        Bytes datagram;
        if (!m_peer.receive(datagram, 2000)) return std::nullopt;
        return datagram;
    }

private:
    UdpPeer m_peer;
    std::uint16_t m_port;
};

// Whether a login was answered with the join response.
bool accepted(const std::optional<Bytes>& reply) {
    return reply.has_value() && !reply->empty() && (*reply)[0] == 1;
}

Bytes withText(Bytes head, const std::string& text) {
    head.insert(head.end(), text.begin(), text.end());
    return head;
}

// Every client, game or admin, has a loopback address of its own.
class AdminTest : public AdminServerTest {
protected:
    AdminTest() : AdminServerTest(kPassword, kPlusPassword) {}

    AdminClient admin(int host) {
        return AdminClient(m_adminPort, "127.0.0." + std::to_string(host));
    }
};

}  // namespace

TEST_F(AdminTest, AdminsLogInAndFollowTheGame) {
    AdminClient boss = admin(50);
    std::optional<Bytes> reply = boss.login(1, "Boss", kPassword);
    ASSERT_TRUE(reply.has_value());
    // The admin form of the join response: no key, the server name at offset 21.
    ASSERT_EQ(reply->size(), 21u + 50u + 255u);
    EXPECT_EQ(Bytes(reply->begin(), reply->begin() + 8), (Bytes{1, 1, 3, 0, 0, 32, 12, 0}));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&(*reply)[21])), "Test Server");

    AdminClient plus = admin(51);
    reply = plus.login(2, "Plus", kPlusPassword);
    ASSERT_TRUE(reply.has_value());
    ASSERT_GE(reply->size(), 5u);
    EXPECT_EQ((*reply)[0], 1);
    EXPECT_EQ((*reply)[4], 1);
    EXPECT_TRUE(m_server.waitForText("server.log", "ADMINPLUS-JOIN: 'Plus', ID = 1 (127.0.0.51)"));
    EXPECT_NE(m_server.logText().find("ADMIN-JOIN: 'Boss', ID = 0 (127.0.0.50)"),
              std::string::npos);

    // Game events reach every admin plainly; a join notice also carries the address.
    TestClient ann = player(10);
    joinOk(ann, "Ann");
    const Bytes joined = withText({8, 0, 'A', 'n', 'n', 0}, "127.0.0.10");
    EXPECT_EQ(boss.waitFor(8), joined);
    EXPECT_EQ(plus.waitFor(8), joined);

    // A state report on foot: heading 1.0, position (100, 200, 10), tag 2.
    const Bytes position = {0, 0, 0xC8, 0x42, 0, 0, 0x48, 0x43, 0, 0, 0x20, 0x41};
    Bytes report = {10, 0, 0, 0, 0x80, 0x3F, 1};
    report.insert(report.end(), position.begin(), position.end());
    report.insert(report.end(), {2, 7});
    ASSERT_TRUE(ann.send(report));
    // Level 2 gets the compact form without its trailing tagged value; level 1 gets nothing.
    Bytes compact = {10, 0, 0, 0, 0, 0x80, 0x3F, 1};
    compact.insert(compact.end(), position.begin(), position.end());
    EXPECT_EQ(plus.waitFor(10), compact);
    EXPECT_EQ(boss.waitFor(10, 500), std::nullopt);

    ASSERT_TRUE(ann.send(Bytes{2}));
    EXPECT_EQ(boss.waitFor(9), (Bytes{9, 0, 0}));
    EXPECT_EQ(plus.waitFor(9), (Bytes{9, 0, 0}));
}

TEST_F(AdminTest, KickAndBanEndAPlayersConnection) {
    AdminClient boss = admin(50);
    ASSERT_TRUE(accepted(boss.login(1, "Boss", kPassword)));
    TestClient ann = player(10);
    joinOk(ann, "Ann");
    TestClient bob = player(11);
    joinOk(bob, "Bob");
    ASSERT_TRUE(ann.waitFor(8).has_value());

    ASSERT_TRUE(boss.send(Bytes{14, static_cast<std::uint8_t>(ann.id())}));
    EXPECT_EQ(ann.waitFor(6), (Bytes{6, 3}));
    const Bytes annLeft{9, 1, static_cast<std::uint8_t>(ann.id())};
    EXPECT_EQ(bob.waitFor(9), annLeft);
    EXPECT_EQ(boss.waitFor(9), annLeft);
    EXPECT_TRUE(m_server.waitForText("server.log", "KICKED: 'Ann', PlayerID = 0 by Admin Boss"));

    ASSERT_TRUE(boss.send(Bytes{15, static_cast<std::uint8_t>(bob.id())}));
    EXPECT_EQ(bob.waitFor(6), (Bytes{6, 1}));
    EXPECT_EQ(boss.waitFor(9), (Bytes{9, 1, static_cast<std::uint8_t>(bob.id())}));
    EXPECT_TRUE(
        waitUntil([&] { return m_server.dir().read("banned.txt") == "127.0.0.11\n"; }, 2000))
        << m_server.dir().read("banned.txt");
    EXPECT_TRUE(m_server.waitForText("server.log", "BANNED: 'Bob', PlayerID = 1 by Admin Boss"));

    ASSERT_TRUE(boss.send(Bytes{28, '1', '.', '2', '.', '3', '.', '4', 'x', '5', 0}));
    EXPECT_EQ(boss.waitFor(28), (Bytes{28, 1}));
    ASSERT_TRUE(boss.send(Bytes{17}));
    EXPECT_EQ(boss.waitFor(17), withText({17}, "127.0.0.11|1.2.3.45|"));

    // The banned address is refused from any port; the kicked one may come back.
    TestClient bobAgain = player(11);
    ASSERT_TRUE(bobAgain.sendWithGeneralKey(TestClient::joinRequest("Bob")));
    EXPECT_EQ(bobAgain.receiveWithGeneralKey(), (Bytes{6, 1}));
}

TEST_F(AdminTest, LoginCutOffAfterTheBarHasAnEmptyPassword) {
    // The first login leaves its long password in whatever buffer the server read it into.
    AdminClient ada = admin(60);
    ASSERT_TRUE(accepted(ada.login(1, "Ada", kPassword)));
    // Same layout, cut right after "|": no password at all.
    AdminClient eve = admin(61);
    ASSERT_TRUE(eve.send(Bytes{13, '0', 1, 'E', 'v', 'e', '|'}));
    EXPECT_EQ(eve.waitFor(6), (Bytes{6, 4}));
    EXPECT_TRUE(m_server.waitForText(
        "server.log", "ADMIN-ERROR: Unable to add 'Eve' password is incorrect. Attempt 1."));
    EXPECT_TRUE(accepted(eve.login(1, "Eve", kPassword)));
}

TEST_F(AdminTest, TwoShutdownRequestsStopTheServer) {
    AdminClient boss = admin(50);
    ASSERT_TRUE(accepted(boss.login(1, "Boss", kPassword)));
    ASSERT_TRUE(boss.send(Bytes{18}));
    EXPECT_EQ(boss.waitFor(18), (Bytes{18, 1}));
    ASSERT_TRUE(boss.send(Bytes{18}));
    EXPECT_EQ(boss.waitFor(18), (Bytes{18, 3}));
    int status = -1;
    ASSERT_TRUE(m_server.waitForExit(&status, 5000));
    EXPECT_EQ(status, 0);
    std::vector<std::string> lines = strippedLines(m_server.logText());
    EXPECT_TRUE(containsLines(
        lines, {"ADMIN-KILLSERVER: First Attempt was received from 'Boss'.",
                "ADMIN-KILLSERVER: Second Attempt was received from 'Boss' .... Killing Server.",
                "ADMINSERVER: successfully shutdown the server."}))
        << m_server.logText();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "- ZEVServer log closed -");
}
