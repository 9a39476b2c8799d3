#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/ServerProcess.h"

namespace {

const std::vector<std::string> kShutdownLines = {
    "SERVER: A total of 0 bytes were received and 0 bytes were sent.",
    "Server successfully shutdown.", "- ZEVServer log closed -"};

std::string linkTarget(pid_t pid, int descriptor) {
    std::error_code error;
    std::filesystem::path target = std::filesystem::read_symlink(
        "/proc/" + std::to_string(pid) + "/fd/" + std::to_string(descriptor), error);
    return error ? std::string() : target.string();
}

// Whether `signal` is still waiting to be delivered to `pid`.
bool isPending(pid_t pid, int signal) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    unsigned long long pending = 0;
    while (std::getline(status, line)) {
        if (line.rfind("SigPnd:", 0) == 0 || line.rfind("ShdPnd:", 0) == 0) {
            pending |= std::strtoull(line.c_str() + 7, nullptr, 16);
        }
    }
    return (pending >> (signal - 1)) & 1u;
}

bool isRunning(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::size_t close = text.rfind(") ");
    return close != std::string::npos && close + 2 < text.size() && text[close + 2] != 'Z' &&
           text[close + 2] != 'X';
}

}  // namespace

TEST(Shutdown, BackgroundServerDetachesAndStopsCleanlyOnSigterm) {
    ServerProcess server;
    TestConfig config = TestConfig::standard();
    server.writeConfig(config);  // no ban file yet: it is created empty
    ASSERT_TRUE(server.startDetached()) << server.consoleText() << server.logText();
    pid_t daemon = server.findDaemon();
    ASSERT_GT(daemon, 0);
    EXPECT_NE(daemon, server.pid());
    EXPECT_EQ(getsid(daemon), daemon);
    EXPECT_EQ(linkTarget(daemon, 0), "/dev/null");
    EXPECT_EQ(linkTarget(daemon, 1), "/dev/null");
    EXPECT_EQ(linkTarget(daemon, 2),
              std::filesystem::canonical(server.dir().file("stderr.txt")).string());
    EXPECT_TRUE(server.dir().exists("banned.txt"));
    EXPECT_EQ(server.dir().read("banned.txt"), "");

    ASSERT_TRUE(server.stopDaemon());
    // The console only saw what came before the server detached.
    const std::string banError = "ERROR: Unable to open existing Banned IP list. Starting clean.";
    EXPECT_EQ(splitLines(server.consoleText()),
              (std::vector<std::string>{"ZEV Server (Patch 1) for ZEV 0.5", "", banError}));
    std::string port = std::to_string(config.gamePort());
    std::vector<std::string> expected = {"- ZEVServer log opened -",
                                         "ZEV Server (Patch 1) for ZEV 0.5",
                                         "",
                                         banError,
                                         "Name: 'Test Server'",
                                         "Port: " + port,
                                         "Map: Liberty City : Portland",
                                         "Maximum Players: 32",
                                         "",
                                         "######",
                                         "Server successfully started on port " + port};
    expected.insert(expected.end(), kShutdownLines.begin(), kShutdownLines.end());
    EXPECT_EQ(strippedLines(server.logText()), expected);
    EXPECT_TRUE(server.dir().exists("banned.txt"));
    EXPECT_EQ(server.errorText(), "");
}

TEST(Shutdown, SigintAndSighupChangeNothingInTheBackground) {
    ServerProcess server;
    TestConfig config = TestConfig::standard();
    server.writeConfig(config);
    server.dir().write("banned.txt", "");
    ASSERT_TRUE(server.startDetached()) << server.logText();
    pid_t daemon = server.findDaemon();
    ASSERT_GT(daemon, 0);
    std::string before = server.logText();
    // Each signal twice, waiting for delivery in between: a handler that is not installed
    // again after its first call would let the second one end the process.
    for (int signal : {SIGINT, SIGHUP, SIGINT, SIGHUP}) {
        SCOPED_TRACE(signal);
        ASSERT_EQ(kill(daemon, signal), 0);
        // A signal that ends the process stays marked pending, so death ends the wait too.
        ASSERT_TRUE(waitUntil([&] { return !isRunning(daemon) || !isPending(daemon, signal); }));
        ASSERT_TRUE(isRunning(daemon));
    }
    EXPECT_EQ(server.logText(), before);
    ASSERT_TRUE(server.stopDaemon());
    std::vector<std::string> lines = strippedLines(server.logText());
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(lines.end() - 4, lines.end()),
              (std::vector<std::string>{
                  "Server successfully started on port " + std::to_string(config.gamePort()),
                  kShutdownLines[0], kShutdownLines[1], kShutdownLines[2]}));
}
