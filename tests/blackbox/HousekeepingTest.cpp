#include <gtest/gtest.h>

#include <chrono>

#include "support/ServerProcess.h"
#include "support/TestClient.h"

namespace {

// The answer to a ping request that passes the server's check for a player.
Bytes pingReply(int id, const std::string& nick) {
    std::uint32_t v = TestClient::kCheckValue - static_cast<std::uint32_t>(id) +
                      static_cast<std::uint32_t>(nick.size());
    return Bytes{5,
                 0,
                 static_cast<std::uint8_t>(v),
                 static_cast<std::uint8_t>(v >> 8),
                 static_cast<std::uint8_t>(v >> 16),
                 static_cast<std::uint8_t>(v >> 24)};
}

class HousekeepingTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_config = TestConfig::standard();
        m_server.writeConfig(m_config);
        ASSERT_TRUE(m_server.startAndWaitReady()) << m_server.consoleText();
    }
    TestConfig m_config;
    ServerProcess m_server;
};

}  // namespace

TEST_F(HousekeepingTest, PingRequestsEverySecondAndReportsAfterACorrectReply) {
    TestClient ann(m_config.gamePort(), "127.0.0.10");
    std::optional<Bytes> reply = ann.join("Ann");
    ASSERT_TRUE(reply && (*reply)[0] == 1);
    auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(ann.waitFor(4, 2500).has_value());
    ASSERT_TRUE(ann.send(pingReply(ann.id(), "Ann")));
    std::optional<Bytes> report = ann.waitFor(22, 1500);
    ASSERT_TRUE(report.has_value());
    ASSERT_EQ(report->size(), 4u);
    EXPECT_EQ((*report)[1], ann.id());
    ASSERT_TRUE(ann.waitFor(4, 2500).has_value());
    ASSERT_TRUE(ann.waitFor(4, 2500).has_value());
    // Three requests take about two seconds, not more.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(3600));
}

TEST_F(HousekeepingTest, SilentPlayerIsDroppedAndTheOthersAreTold) {
    TestClient silent(m_config.gamePort(), "127.0.0.10");
    ASSERT_TRUE(silent.join("Quiet").has_value());
    TestClient alive(m_config.gamePort(), "127.0.0.11");
    ASSERT_TRUE(alive.join("Busy").has_value());
    // The live client answers every ping; the other never sends again.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(22);
    std::optional<Bytes> notice;
    while (!notice && std::chrono::steady_clock::now() < deadline) {
        std::optional<Bytes> got = alive.receive(500);
        if (!got || got->empty()) continue;
        if ((*got)[0] == 4) alive.send(pingReply(alive.id(), "Busy"));
        if ((*got)[0] == 9) notice = got;
    }
    ASSERT_TRUE(notice.has_value());
    EXPECT_EQ(*notice, (Bytes{9, 2, static_cast<std::uint8_t>(silent.id())}));
    EXPECT_TRUE(
        m_server.waitForText("server.log", "QUIT: 'Quiet', PlayerID = 0 ... quit due to timeout."));
}
