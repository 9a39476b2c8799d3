#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "support/ServerProcess.h"
#include "support/UdpPeer.h"

namespace {

const std::string kBindError =
    "ERROR: Unable to bind to the socket. Check that no other instances of ZEVServer.exe are "
    "running and try again.";
const std::string kRangeError = "ERROR: Port 70000 is out of range.";
const std::string kClosed = "- ZEVServer log closed -";

// Runs a server whose game port cannot open to its end and checks what it reports: the
// endpoint's error, "Unable to start server." and nothing of a running server.
void expectStartFailure(ServerProcess& server, const std::string& error) {
    ASSERT_TRUE(server.start());
    int status = -1;
    ASSERT_TRUE(server.waitForExit(&status));
    EXPECT_EQ(status, 0);
    EXPECT_EQ(splitLines(server.consoleText()),
              (std::vector<std::string>{"ZEV Server (Patch 1) for ZEV 0.5", "", error,
                                        "Unable to start server."}));
    std::vector<std::string> file = strippedLines(server.logText());
    ASSERT_GE(file.size(), 3u) << server.logText();
    EXPECT_EQ(file.front(), "- ZEVServer log opened -");
    EXPECT_EQ(std::vector<std::string>(file.end() - 3, file.end()),
              (std::vector<std::string>{error, "Unable to start server.", kClosed}));
}

std::string aseLine(const TestConfig& config) {
    return "All Seeing Eye listing enabled. Port " + std::to_string(config.gamePort() + 123) +
           " must be accessable from the internet.";
}

TestConfig withBanFile(ServerProcess& server) {
    TestConfig config = TestConfig::standard();
    server.dir().write("banned.txt", "");
    return config;
}

}  // namespace

TEST(Endpoint, SecondServerOnATakenPortDoesNotStart) {
    ServerProcess first;
    TestConfig config = withBanFile(first);
    first.writeConfig(config);
    ASSERT_TRUE(first.startAndWaitReady()) << first.consoleText();

    ServerProcess second;
    second.dir().write("banned.txt", "");
    second.writeConfig(config);
    expectStartFailure(second, kBindError);

    // The first server still holds its port.
    EXPECT_FALSE(isUdpPortFree(config.gamePort()));
    first.signal(SIGTERM);
    EXPECT_TRUE(first.waitForExit(nullptr));
}

TEST(Endpoint, GamePortThatCannotBeBound) {
    struct Case {
        const char* what;
        std::map<std::string, std::string> set;
        std::string error;
    };
    const std::vector<Case> cases = {
        {"port above 65535", {{"ServerPort", "70000"}}, kRangeError},
        {"address of no local interface", {{"GameIPAddress", "192.0.2.1"}}, kBindError},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ServerProcess server;
        TestConfig config = withBanFile(server);
        for (const auto& [key, value] : c.set) config.entries[key] = value;
        server.writeConfig(config);
        expectStartFailure(server, c.error);
    }
}

TEST(Endpoint, GameAddressIsBoundAndReported) {
    ServerProcess server;
    TestConfig config = withBanFile(server);
    config.entries["GameIPAddress"] = "127.0.0.1";
    server.writeConfig(config);
    ASSERT_TRUE(server.startAndWaitReady()) << server.consoleText();
    EXPECT_FALSE(isUdpPortFree(config.gamePort()));
    server.signal(SIGTERM);
    ASSERT_TRUE(server.waitForExit(nullptr));
    std::string port = std::to_string(config.gamePort());
    EXPECT_TRUE(containsLines(splitLines(server.consoleText()),
                              {"Name: 'Test Server'", "Port: " + port,
                               "Game Listening IP: 127.0.0.1", "Map: Liberty City : Portland"}))
        << server.consoleText();
}

TEST(Endpoint, AdminEndpointSettings) {
    struct Case {
        const char* what;
        std::map<std::string, std::string> set;
        std::vector<std::string> lines;  // consecutive, after the ready line
        bool adminBound;                 // the admin port is held while the server runs
        bool adminEnabled;               // the shutdown reports the admin endpoint
    };
    const std::string started = "Administration access successfully started on port {admin}";
    const std::vector<Case> cases = {
        {"no password",
         {{"AdminServer", "1"}},
         {"No password set for administration, administration access disabled."},
         true,
         false},
        {"with a password", {{"AdminServer", "1"}, {"AdminPassword", "pw"}}, {started}, true, true},
        {"admin+ without its password",
         {{"AdminServer", "1"}, {"AdminPassword", "pw"}, {"AdminPlus", "1"}},
         {started, "No admin+ password set, admin+ disabled."},
         true,
         true},
        {"admin+ with its password",
         {{"AdminServer", "1"},
          {"AdminPassword", "pw"},
          {"AdminPlus", "1"},
          {"AdminPlusPassword", "pw2"}},
         {started, "Admin+ successfully started on port {admin}"},
         true,
         true},
        {"admin+ flag not exactly 1",
         {{"AdminServer", "1"}, {"AdminPassword", "pw"}, {"AdminPlus", "2"}},
         {started},
         true,
         true},
        {"admin flag not exactly 1",
         {{"AdminServer", "2"}, {"AdminPassword", "pw"}},
         {},
         false,
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ServerProcess server;
        TestConfig config = withBanFile(server);
        std::uint16_t adminPort = pickFreeUdpPort();
        config.entries["AdminPort"] = std::to_string(adminPort);
        config.entries["ASE"] = "1";  // its line is the last one of the start-up
        for (const auto& [key, value] : c.set) config.entries[key] = value;
        server.writeConfig(config);
        ASSERT_TRUE(server.startDetached({}, "All Seeing Eye listing enabled."))
            << server.logText();
        EXPECT_EQ(isUdpPortFree(adminPort), !c.adminBound);
        ASSERT_TRUE(server.stopDaemon());
        EXPECT_TRUE(isUdpPortFree(adminPort));

        std::string port = std::to_string(config.gamePort());
        std::vector<std::string> expected = {"Server successfully started on port " + port};
        for (std::string line : c.lines) {
            std::size_t at = line.find("{admin}");
            if (at != std::string::npos) line.replace(at, 7, std::to_string(adminPort));
            expected.push_back(line);
        }
        expected.push_back(aseLine(config));
        std::vector<std::string> tail = {
            "SERVER: A total of 0 bytes were received and 0 bytes were sent.",
            "Server successfully shutdown.", kClosed};
        if (c.adminEnabled)
            tail.insert(tail.begin(), "ADMINSERVER: successfully shutdown the server.");
        expected.insert(expected.end(), tail.begin(), tail.end());

        std::vector<std::string> file = strippedLines(server.logText());
        ASSERT_GE(file.size(), expected.size()) << server.logText();
        EXPECT_EQ(
            std::vector<std::string>(file.end() - static_cast<long>(expected.size()), file.end()),
            expected);
    }
}

TEST(Endpoint, AdminEndpointThatCannotOpenLeavesTheGameRunning) {
    UdpPeer holder;
    ASSERT_TRUE(holder.ok());
    struct Case {
        const char* what;
        std::string port;
        std::string error;
    };
    const std::vector<Case> cases = {
        {"port taken", std::to_string(holder.port()), kBindError},
        {"port above 65535", "70000", kRangeError},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ServerProcess server;
        TestConfig config = withBanFile(server);
        config.entries["AdminServer"] = "1";
        config.entries["AdminPassword"] = "pw";
        config.entries["AdminPort"] = c.port;
        config.entries["ASE"] = "1";
        server.writeConfig(config);
        ASSERT_TRUE(server.startDetached({}, "All Seeing Eye listing enabled."))
            << server.logText();
        ASSERT_TRUE(server.stopDaemon());
        std::string port = std::to_string(config.gamePort());
        std::vector<std::string> file = strippedLines(server.logText());
        EXPECT_TRUE(
            containsLines(file, {"Server successfully started on port " + port, c.error,
                                 "Could not start admin server.", aseLine(config),
                                 "SERVER: A total of 0 bytes were received and 0 bytes were sent.",
                                 "Server successfully shutdown.", kClosed}))
            << server.logText();
    }
}

TEST(Endpoint, ReceivedBytesAreCountedWhileGameDatagramsAreDropped) {
    ServerProcess server;
    TestConfig config = withBanFile(server);
    server.writeConfig(config);
    ASSERT_TRUE(server.startDetached()) << server.logText();
    UdpPeer first("127.0.0.1");
    UdpPeer second("127.0.0.2");
    ASSERT_TRUE(first.ok() && second.ok());
    std::uint16_t port = config.gamePort();
    // An empty datagram, a join-like one, odd sizes, and one longer than the 1024-byte receive
    // buffer, of which only 1024 bytes are read.
    ASSERT_TRUE(first.sendTo(port, {}));
    ASSERT_TRUE(first.sendTo(port, {0x01}));
    ASSERT_TRUE(second.sendTo(port, std::vector<std::uint8_t>(17, 0xAB)));
    ASSERT_TRUE(first.sendTo(port, std::vector<std::uint8_t>(300, 0x00)));
    ASSERT_TRUE(second.sendTo(port, std::vector<std::uint8_t>(1500, 0x5A)));
    ASSERT_TRUE(first.sendTo(port, {}));
    ASSERT_TRUE(first.sendTo(port, std::vector<std::uint8_t>(32, 0x0A)));
    // Loopback delivers before sendto returns, so an empty queue means the server read them all.
    EXPECT_TRUE(waitUntil([&] { return udpReceiveQueue(port) == 0; }));
    ASSERT_TRUE(server.stopDaemon());
    std::vector<std::string> file = strippedLines(server.logText());
    ASSERT_GE(file.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(file.end() - 3, file.end()),
              (std::vector<std::string>{
                  "SERVER: A total of 1374 bytes were received and 0 bytes were sent.",
                  "Server successfully shutdown.", kClosed}))
        << server.logText();
}

TEST(Endpoint, DatagramsAreReadAsSoonAsTheyArrive) {
    ServerProcess server;
    TestConfig config = withBanFile(server);
    std::uint16_t adminPort = pickFreeUdpPort();
    config.entries["AdminServer"] = "1";
    config.entries["AdminPassword"] = "pw";
    config.entries["AdminPort"] = std::to_string(adminPort);
    server.writeConfig(config);
    ASSERT_TRUE(server.startDetached({}, "Administration access successfully started on port"))
        << server.logText();
    UdpPeer peer;
    ASSERT_TRUE(peer.ok());
    // Code 7 is no command on either port, so nothing answers; what counts is that the waiting
    // loop wakes for each port at once instead of at its next once-a-second turn.
    const std::vector<std::uint16_t> ports = {config.gamePort(), adminPort, config.gamePort(),
                                              adminPort};
    for (std::size_t i = 0; i < ports.size(); ++i) {
        std::uint16_t port = ports[i];
        SCOPED_TRACE(port);
        // A spacing, not a wait: it puts each datagram well inside another second.
        if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(300));
        ASSERT_TRUE(peer.sendTo(port, {0x07, 0x00, 0x00, 0x00}));
        EXPECT_TRUE(waitUntil([&] { return udpReceiveQueue(port) == 0; }, 250));
    }
    ASSERT_TRUE(server.stopDaemon());
    EXPECT_TRUE(containsLines(strippedLines(server.logText()),
                              {"ADMINSERVER: successfully shutdown the server.",
                               "SERVER: A total of 8 bytes were received and 0 bytes were sent.",
                               "Server successfully shutdown."}))
        << server.logText();
}
