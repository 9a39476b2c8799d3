#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/ServerProcess.h"
#include "support/UdpPeer.h"

namespace {

const std::string kBanner = "ZEV Server (Patch 1) for ZEV 0.5";
const std::string kLoadError = "ERROR: The configuration file could not be loaded.";
const std::string kSummaryError =
    "ERROR: The ServerName, ServerPort, GameMap, GameHour, GameMins, Weather and BannedFile MUST "
    "be specified in the configuration file.";

const std::vector<std::string> kUsage = {
    "Usage: ZEVServer [OPTION]...",
    "",
    "  -b, --background      go to the background after startup (daemon)",
    "  -c, --conf=PATH       specify the path to the configuration file",
    "  -l, --log=PATH        specify the path to the file you wish to log to",
    "  -h, --help            display this help and exit",
    "  -t, --time            enable time output",
    "  -q, --quiet           enter quiet mode (absolutely no output)",
    "      --check-config    check the configuration and the ban file, then exit",
    "",
    "By default, the configuration file (zevserver.conf) will be read from the",
    "the current directory.",
    "",
};

std::vector<std::string> filesIn(const TempDir& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Replaces "{port}" with `port` and "{ase}" with the listing port next to it.
std::string fill(std::string text, std::uint16_t port) {
    const std::map<std::string, std::string> values = {{"{port}", std::to_string(port)},
                                                       {"{ase}", std::to_string(port + 123)}};
    for (const auto& [name, value] : values) {
        for (std::size_t at = text.find(name); at != std::string::npos; at = text.find(name)) {
            text.replace(at, name.size(), value);
        }
    }
    return text;
}

}  // namespace

TEST(CommandLine, HelpPrintsBannerAndUsageWithoutTouchingFiles) {
    const std::vector<std::vector<std::string>> cases = {
        {"-h"},
        {"-?"},
        {"--help"},
        {"--help", "--quiet"},
        {"-t", "-i", "-h"},
        {"-b", "-l", "help.log", "-c", "missing.conf", "--help"},
    };
    for (const auto& args : cases) {
        SCOPED_TRACE(args.front() + " ... " + args.back());
        ServerProcess server;
        ASSERT_TRUE(server.start(args));
        int status = -1;
        ASSERT_TRUE(server.waitForExit(&status));
        EXPECT_EQ(status, 0);
        std::vector<std::string> expected = {kBanner, ""};
        expected.insert(expected.end(), kUsage.begin(), kUsage.end());
        std::vector<std::string> lines = splitLines(server.consoleText());
        ASSERT_EQ(lines.size(), expected.size() + 1) << server.consoleText();
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), lines.begin()))
            << server.consoleText();
        EXPECT_EQ(lines.back().rfind("Report bugs to ", 0), 0u) << lines.back();
        EXPECT_GT(lines.back().size(), std::string("Report bugs to ").size());
        EXPECT_EQ(filesIn(server.dir()), (std::vector<std::string>{"stderr.txt", "stdout.txt"}));
    }
}

TEST(CommandLine, ConfOptionWithoutExactlyOneValueFailsTheLoad) {
    struct Case {
        std::vector<std::string> args;
        std::string error;
    };
    const std::string shortError = "ERROR: Invalid number of arguments for '-c'.";
    const std::string longError = "ERROR: Invalid number of arguments for '--conf'.";
    const std::vector<Case> cases = {
        {{"-c"}, shortError},
        {{"-c", "zevserver.conf", "other.conf"}, shortError},
        {{"-c", "--conf=zevserver.conf"}, shortError},
        {{"--conf"}, longError},
        {{"--conf=zevserver.conf", "other.conf"}, longError},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error + " for " + c.args.back());
        ServerProcess server;
        // A valid default file is present: only the option makes the load fail.
        server.writeConfig(TestConfig::standard());
        ASSERT_TRUE(server.start(c.args));
        int status = -1;
        ASSERT_TRUE(server.waitForExit(&status));
        EXPECT_EQ(status, 0);
        EXPECT_EQ(splitLines(server.consoleText()),
                  (std::vector<std::string>{c.error, kBanner, "", kLoadError}));
        EXPECT_FALSE(server.dir().exists("server.log"));
    }
}

TEST(CommandLine, ConfOptionChoosesTheFile) {
    const std::vector<std::vector<std::string>> cases = {
        {"-c", "sub/alt.conf"},
        {"--conf", "sub/alt.conf"},
        {"--conf=sub/alt.conf"},
        {"-c", "sub/alt.conf", "--conf"},
    };
    for (const auto& args : cases) {
        SCOPED_TRACE(args.front() + " ... " + args.back());
        ServerProcess server;
        TestConfig config = TestConfig::standard();
        config.entries["ServerName"] = "Alternative";
        std::filesystem::create_directory(server.dir().file("sub"));
        server.dir().write("sub/alt.conf", config.text());
        server.dir().write("zevserver.conf", "ServerName \"Default File\"\n");
        ASSERT_TRUE(server.startAndWaitReady(args)) << server.consoleText();
        server.signal(SIGTERM);
        ASSERT_TRUE(server.waitForExit(nullptr));
        EXPECT_TRUE(
            containsLines(splitLines(server.consoleText()),
                          {"Name: 'Alternative'", "Port: " + fill("{port}", config.gamePort())}))
            << server.consoleText();
    }
}

TEST(CommandLine, OverridesReplaceValuesTheFileGives) {
    struct Case {
        std::vector<std::string> args;
        std::map<std::string, std::string> set;
        std::vector<std::string> erase;
        std::vector<std::string> expected;  // consecutive log lines
        std::string absent;                 // a line that must not be logged
    };
    const std::string noPassword =
        "ERROR: Server password enabled, but no password found. Server password disabled.";
    const std::string aseLine =
        "All Seeing Eye listing enabled. Port {ase} must be accessable from the internet.";
    const std::vector<Case> cases = {
        {{"-n", "Foo", "--name=Bar"}, {}, {}, {"Name: 'Bar'"}, ""},
        {{"--name=Foo", "-n", "Bar"}, {}, {}, {"Name: 'Foo'"}, ""},
        {{"-n", "Solo", "-"}, {}, {}, {"Name: 'Solo'"}, ""},
        {{"-p", "8", "-p", "9"}, {}, {}, {"Maximum Players: 9"}, ""},
        {{"-p=12"}, {}, {}, {"Maximum Players: 12"}, ""},
        {{"-p"}, {}, {}, {"Maximum Players: 32"}, ""},
        {{"--players", "5", "-m", "5"},
         {},
         {},
         {"Map: Liberty City : Staunton Island", "Maximum Players: 5"},
         ""},
        {{"--map=1", "-p", "26"}, {}, {}, {"Map: Vice City : Deathmatch"}, ""},
        {{"-a", "1"}, {{"ASE", "0"}}, {}, {aseLine}, ""},
        {{"--ase=1"}, {}, {"ASE"}, {}, aseLine},
        // The switch is turned on, but a password the file lacks cannot be replaced.
        {{"-s", "secret"}, {{"ServerPasswordEnabled", "0"}}, {"ServerPassword"}, {noPassword}, ""},
        {{"--pass=secret"},
         {{"ServerPasswordEnabled", "0"}, {"ServerPassword", "old"}},
         {},
         {},
         noPassword},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.front() + " ... " + c.args.back());
        ServerProcess server;
        TestConfig config = TestConfig::standard();
        for (const auto& [key, value] : c.set) config.entries[key] = value;
        for (const std::string& key : c.erase) config.entries.erase(key);
        server.writeConfig(config);
        ASSERT_TRUE(server.startDetached(c.args)) << server.consoleText() << server.logText();
        ASSERT_TRUE(server.stopDaemon());
        std::vector<std::string> lines = strippedLines(server.logText());
        std::vector<std::string> expected;
        for (const std::string& line : c.expected)
            expected.push_back(fill(line, config.gamePort()));
        EXPECT_TRUE(containsLines(lines, expected)) << server.logText();
        if (!c.absent.empty()) {
            EXPECT_FALSE(containsLines(lines, {fill(c.absent, config.gamePort())}))
                << server.logText();
        }
    }
}

TEST(CommandLine, PortOverrideMovesTheGamePort) {
    ServerProcess server;
    TestConfig config = TestConfig::standard();
    server.writeConfig(config);
    std::uint16_t port = pickFreeUdpPort();
    ASSERT_TRUE(server.startAndWaitReady({"--port", std::to_string(port)})) << server.consoleText();
    EXPECT_TRUE(containsLines(splitLines(server.consoleText()), {"Port: " + std::to_string(port)}));
    EXPECT_TRUE(server.waitForText("stdout.txt",
                                   "Server successfully started on port " + std::to_string(port)));
    EXPECT_FALSE(isUdpPortFree(port));
    EXPECT_TRUE(isUdpPortFree(config.gamePort()));
    server.signal(SIGTERM);
    EXPECT_TRUE(server.waitForExit(nullptr));
}

TEST(CommandLine, OverridesAreValidatedLikeFileValues) {
    struct Case {
        std::vector<std::string> args;
        std::vector<std::string> erase;
        std::string error;
    };
    const std::vector<Case> cases = {
        // The file lacks MaxPlayers, so there is nothing for -p to replace.
        {{"-p", "8"},
         {"MaxPlayers"},
         "ERROR: MaxPlayers needs to be specified in the configuration file, be between 1 and "
         "32."},
        {{"-m", "2"},
         {},
         "ERROR: MaxPlayers needs to be specified in the configuration file, be between 1 and "
         "26."},
        {{"--port=0"},
         {},
         "ERROR: A ServerPort needs to be specified in the configuration file AND be > 0."},
        {{"-p", "-5"},
         {},
         "ERROR: MaxPlayers needs to be specified in the configuration file, be between 1 and "
         "32."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.front() + " ... " + c.args.back());
        ServerProcess server;
        TestConfig config = TestConfig::standard();
        for (const std::string& key : c.erase) config.entries.erase(key);
        server.writeConfig(config);
        ASSERT_TRUE(server.start(c.args));
        int status = -1;
        ASSERT_TRUE(server.waitForExit(&status));
        EXPECT_EQ(status, 0);
        EXPECT_EQ(splitLines(server.consoleText()),
                  (std::vector<std::string>{c.error, kSummaryError, kSummaryError}));
    }
}
