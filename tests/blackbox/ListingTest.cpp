#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <memory>

#include "support/ServerProcess.h"
#include "support/TestClient.h"

namespace {

// Runs a command and returns what it printed.
std::string run(const std::string& command) {
    std::string output;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    if (!pipe) return output;
    std::array<char, 4096> chunk;
    while (fgets(chunk.data(), static_cast<int>(chunk.size()), pipe.get()) != nullptr) {
        output += chunk.data();
    }
    return output;
}

class ListingTest : public ::testing::Test {
protected:
    void startServer(const std::map<std::string, std::string>& extra) {
        m_config = TestConfig::standard();
        m_config.entries["ASE"] = "1";
        m_config.entries["ServerName"] = "\"Listed Server\"";
        for (const auto& [key, value] : extra) m_config.entries[key] = value;
        m_server.writeConfig(m_config);
        ASSERT_TRUE(m_server.startAndWaitReady()) << m_server.consoleText();
    }

    TestConfig m_config;
    ServerProcess m_server;
};

}  // namespace

TEST_F(ListingTest, ServerBrowserSeesNameMapAndPlayers) {
    if (run("command -v quakestat").empty()) GTEST_SKIP() << "qstat is not installed";
    UdpPeer master;
    startServer({{"ASEMasterPrimary", "127.0.0.1:" + std::to_string(master.port())}});
    TestClient ann(m_config.gamePort(), "127.0.0.10");
    ASSERT_TRUE(ann.join("Ann").has_value());

    std::string address = "127.0.0.1:" + std::to_string(m_config.gamePort());
    std::string raw = run("quakestat -eye " + address + " -R -P -raw '|' -timeout 2 2>&1");
    EXPECT_NE(raw.find("|Listed Server|Liberty City : Portland|32|1|"), std::string::npos) << raw;
    EXPECT_NE(raw.find("gametype=GTA3:ZEV"), std::string::npos) << raw;
    EXPECT_NE(raw.find("Patch1Installed=yes"), std::string::npos) << raw;
    EXPECT_NE(raw.find("Ann|0|"), std::string::npos) << raw;
}

TEST_F(ListingTest, FakeMasterReceivesHeartbeatsNamingTheMovedQueryPort) {
    UdpPeer master;
    std::uint16_t gamePort = pickFreeUdpPort();
    // Hold the first query port so that the server has to move up by one.
    int holder = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in taken{};
    taken.sin_family = AF_INET;
    taken.sin_port = htons(static_cast<std::uint16_t>(gamePort + 123));
    taken.sin_addr.s_addr = htonl(INADDR_ANY);
    ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&taken), sizeof(taken)), 0);

    startServer({{"ServerPort", std::to_string(gamePort)},
                 {"ASEMasterPrimary", "127.0.0.1:" + std::to_string(master.port())}});
    Bytes heartbeat;
    ASSERT_TRUE(master.receive(heartbeat, 3000));
    std::string expected = "\\hb\\" + std::to_string(gamePort + 124) + "\\zev";
    EXPECT_EQ(std::string(heartbeat.begin(), heartbeat.end()), expected);
    // The line names the first query port even when the socket moved.
    EXPECT_TRUE(m_server.waitForText(
        "stdout.txt",
        "All Seeing Eye listing enabled. Port " + std::to_string(gamePort + 123) + " must be"));

    // The moved port answers, and its status reply still names the game port.
    UdpPeer browser;
    ASSERT_TRUE(browser.sendTo(static_cast<std::uint16_t>(gamePort + 124), Bytes{'s'}));
    Bytes reply;
    ASSERT_TRUE(browser.receive(reply, 2000));
    std::string text(reply.begin(), reply.end());
    EXPECT_EQ(text.substr(0, 8), "EYE1\x04zev");
    EXPECT_EQ(text.substr(8, 1 + std::to_string(gamePort).size()),
              static_cast<char>(std::to_string(gamePort).size() + 1) + std::to_string(gamePort));
    close(holder);
}
