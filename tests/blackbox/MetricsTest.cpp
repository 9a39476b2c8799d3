// The metrics file of a running server, as node_exporter's textfile collector would read it.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <string>

#include "support/ServerProcess.h"
#include "support/TestClient.h"

namespace {

// promtool's verdict on `file`; empty when it accepts the file.
std::string promtoolProblems(const std::string& file) {
    std::string command = "promtool check metrics < '" + file + "' 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return "promtool could not be run";
    std::string output;
    char buffer[256];
    while (fgets(buffer, sizeof(buffer), pipe) != nullptr) output += buffer;
    int status = pclose(pipe);
    if (status != 0 && output.empty()) output = "promtool failed (is it installed?)";
    return status == 0 ? std::string() : output;
}

}  // namespace

TEST(MetricsFile, IsWrittenAtStartEveryTenSecondsAndAtShutdown) {
    ServerProcess server;
    TestConfig config = TestConfig::standard();
    config.entries["MetricsFile"] = "metrics.prom";
    config.entries["ASE"] = "1";
    server.writeConfig(config);
    // In the background, so that SIGTERM runs the whole shutdown.
    ASSERT_TRUE(server.startDetached());
    ASSERT_TRUE(server.waitForText("metrics.prom", "zevserver_players_connected 0"));
    EXPECT_EQ(promtoolProblems(server.dir().file("metrics.prom")), "");

    TestClient ann(config.gamePort(), "127.0.0.21");
    ASSERT_TRUE(ann.join("Ann"));
    TestClient copy(config.gamePort(), "127.0.0.22");
    copy.sendWithGeneralKey(TestClient::joinRequest("Ann"));
    ASSERT_TRUE(copy.receiveWithGeneralKey());

    // The next report comes within ten seconds; the client keeps answering pings meanwhile.
    bool seen = waitUntil(
        [&] {
            while (ann.receive(50)) {
            }
            std::string text = server.dir().read("metrics.prom");
            return text.find("zevserver_players_connected 1\n") != std::string::npos;
        },
        15000);
    ASSERT_TRUE(seen) << server.dir().read("metrics.prom");
    std::string text = server.dir().read("metrics.prom");
    for (const char* line : {"zevserver_joins_total 1", "zevserver_up 1",
                             "zevserver_joins_refused_total{reason=\"nick_in_use\"} 1",
                             "zevserver_player_ping_seconds{id=\"0\",nick=\"Ann\"}"}) {
        EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
    }
    EXPECT_NE(text.find("zevserver_received_datagrams_total{port=\"query\"} 0"), std::string::npos)
        << text;
    EXPECT_EQ(promtoolProblems(server.dir().file("metrics.prom")), "");

    ASSERT_TRUE(server.stopDaemon());
    EXPECT_NE(server.dir().read("metrics.prom").find("zevserver_up 0\n"), std::string::npos);
    EXPECT_FALSE(server.dir().exists("metrics.prom.tmp"));
}
