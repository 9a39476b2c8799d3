#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/ServerProcess.h"
#include "support/UdpPeer.h"

namespace {

// Replaces "{port}" with the game port and "{ase}" with the listing port next to it.
std::string fillPorts(std::string text, std::uint16_t port) {
    const std::vector<std::pair<std::string, std::string>> values = {
        {"{port}", std::to_string(port)}, {"{ase}", std::to_string(port + 123)}};
    for (const auto& [name, value] : values) {
        for (std::size_t at = text.find(name); at != std::string::npos; at = text.find(name)) {
            text.replace(at, name.size(), value);
        }
    }
    return text;
}

// CPU time the process has used so far, in seconds.
double cpuSeconds(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(") ") + 2));
    std::string field;
    unsigned long long user = 0, system = 0;
    // After the name: state is field 3, utime field 14 and stime field 15 of the whole line.
    for (int index = 3; index <= 15 && fields >> field; ++index) {
        if (index == 14) user = std::strtoull(field.c_str(), nullptr, 10);
        if (index == 15) system = std::strtoull(field.c_str(), nullptr, 10);
    }
    return static_cast<double>(user + system) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

}  // namespace

TEST(Startup, BackgroundServerShutsDownOnSigterm) {
    ServerProcess server;
    TestConfig config = TestConfig::standard();
    server.writeConfig(config);
    ASSERT_TRUE(server.start({"-b"}));
    int status = -1;
    ASSERT_TRUE(server.waitForExit(&status));
    EXPECT_EQ(status, 0);
    ASSERT_TRUE(server.waitForText("server.log", "Server successfully started on port"));
    ASSERT_TRUE(server.stopDaemon());
    std::vector<std::string> lines = strippedLines(server.logText());
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "- ZEVServer log closed -");
    EXPECT_TRUE(
        containsLines(lines, {"SERVER: A total of 0 bytes were received and 0 bytes were sent.",
                              "Server successfully shutdown."}))
        << server.logText();
}

TEST(Startup, OptionalLines) {
    struct Case {
        const char* what;
        std::map<std::string, std::string> set;
        std::vector<std::string> files;  // created empty beside the configuration
        std::vector<std::string> lines;  // consecutive log lines
        std::string absent;              // a line that must not be logged
    };
    const std::string motdError = "ERROR: 'motd.txt' could not be opened for reading.";
    const std::string passwordError =
        "ERROR: Server password enabled, but no password found. Server password disabled.";
    const std::string urlError = "ERROR: Rich MOTD URLs must begin include the initial http://.";
    const std::string ready = "Server successfully started on port {port}";
    const std::vector<Case> cases = {
        {"test mode",
         {{"Testmode", "1"}},
         {},
         {"Maximum Players: 32", "", "PLEASE NOTE: Testmode is on.", "", "######", ready},
         ""},
        {"test mode flag not exactly 1",
         {{"Testmode", "2"}},
         {},
         {},
         "PLEASE NOTE: Testmode is on."},
        {"message of the day without its file", {{"MOTDEnabled", "1"}}, {}, {ready, motdError}, ""},
        {"message of the day with its file", {{"MOTDEnabled", "1"}}, {"motd.txt"}, {}, motdError},
        {"message of the day off", {{"MOTDEnabled", "0"}}, {}, {}, motdError},
        {"server password without a password",
         {{"ServerPasswordEnabled", "1"}},
         {},
         {ready, passwordError},
         ""},
        {"server password with a password",
         {{"ServerPasswordEnabled", "1"}, {"ServerPassword", "secret"}},
         {},
         {},
         passwordError},
        {"listing",
         {{"ASE", "1"}},
         {},
         {ready,
          "All Seeing Eye listing enabled. Port {ase} must be accessable from the internet."},
         ""},
        {"rich message of the day",
         {{"MOTDURL", "http://example.com/motd.html"}},
         {},
         {"Maximum Players: 32", "Rich MOTD source: http://example.com/motd.html", ""},
         ""},
        {"rich message of the day in capitals",
         {{"MOTDURL", "HTTP://EXAMPLE.COM/"}},
         {},
         {"Maximum Players: 32", urlError, ""},
         ""},
        {"rich message of the day given twice",
         {{"MOTDURL", "http://a.example/ \"http://b.example/\""}},
         {},
         {"Maximum Players: 32", "", "######"},
         urlError},
        {"ban file in a missing folder",
         {{"BannedFile", "absent/banned.txt"}},
         {},
         {"", "ERROR: Unable to open existing Banned IP list. Starting clean.",
          "Name: 'Test Server'"},
         ""},
        {"all together, in their order",
         {{"MOTDEnabled", "1"},
          {"ServerPasswordEnabled", "1"},
          {"ASE", "1"},
          {"StatLogging", "1"},
          {"Testmode", "1"}},
         {},
         {"PLEASE NOTE: Testmode is on.", "", "######", ready,
          "ServerInit: Test Server\xA9{port}\xA9GTA3:Portland\xA9"
          "32\xA9",
          motdError, passwordError,
          "All Seeing Eye listing enabled. Port {ase} must be accessable from the internet.",
          "SERVER: A total of 0 bytes were received and 0 bytes were sent."},
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ServerProcess server;
        TestConfig config = TestConfig::standard();
        for (const auto& [key, value] : c.set) config.entries[key] = value;
        server.writeConfig(config);
        server.dir().write("banned.txt", "");
        for (const std::string& name : c.files) server.dir().write(name, "");
        ASSERT_TRUE(server.startDetached()) << server.logText();
        ASSERT_TRUE(server.stopDaemon());
        std::vector<std::string> lines = strippedLines(server.logText());
        std::vector<std::string> expected;
        for (const std::string& line : c.lines)
            expected.push_back(fillPorts(line, config.gamePort()));
        EXPECT_TRUE(containsLines(lines, expected)) << server.logText();
        if (!c.absent.empty()) {
            EXPECT_FALSE(containsLines(lines, {c.absent})) << server.logText();
        }
        EXPECT_EQ(lines.back(), "- ZEVServer log closed -");
    }
}

TEST(Startup, EachMapNamesItselfAndItsStatistics) {
    struct Case {
        const char* map;
        std::string line;
        std::string statName;
    };
    const std::vector<Case> cases = {
        {"1", "Map: Vice City : Deathmatch", "GTA:VC:Deathmatch"},
        {"2", "Map: Vice City : Stunt", "GTA:VC:Stunt"},
        {"3", "Map: Liberty City : Portland", "GTA3:Portland"},
        {"4", "Map: Liberty City : Shore Side Vale", "GTA3:Shore Side Vale"},
        {"5", "Map: Liberty City : Staunton Island", "GTA3:Staunton Island"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        ServerProcess server;
        TestConfig config = TestConfig::standard();
        config.entries["GameMap"] = c.map;
        config.entries["MaxPlayers"] = "26";
        config.entries["StatLogging"] = "1";
        server.writeConfig(config);
        server.dir().write("banned.txt", "");
        ASSERT_TRUE(server.startDetached()) << server.logText();
        ASSERT_TRUE(server.stopDaemon());
        std::string port = std::to_string(config.gamePort());
        std::vector<std::string> lines = strippedLines(server.logText());
        EXPECT_TRUE(containsLines(lines, {"Port: " + port, c.line, "Maximum Players: 26"}))
            << server.logText();
        EXPECT_TRUE(containsLines(lines, {"Server successfully started on port " + port,
                                          "ServerInit: Test Server\xA9" + port + "\xA9" +
                                              c.statName + "\xA9" + "26\xA9"}))
            << server.logText();
    }
}

TEST(Startup, ListenModeKeepsToTheLauncherLines) {
    ServerProcess server;
    TestConfig config = TestConfig::standard();
    std::uint16_t adminPort = pickFreeUdpPort();
    config.entries["AdminServer"] = "1";
    config.entries["AdminPassword"] = "pw";
    config.entries["AdminPlus"] = "1";
    config.entries["AdminPlusPassword"] = "pw2";
    config.entries["AdminPort"] = std::to_string(adminPort);
    config.entries["GameIPAddress"] = "127.0.0.1";
    config.entries["ServerPasswordEnabled"] = "1";
    config.entries["MOTDURL"] = "http://example.com/motd.html";
    config.entries["ASE"] = "1";
    config.entries["Testmode"] = "1";
    config.entries["MOTDEnabled"] = "1";
    server.writeConfig(config);
    server.dir().write("banned.txt", "");
    ASSERT_TRUE(server.startDetached({"-i"}, "Game Listening IP: 127.0.0.1")) << server.logText();
    // The admin endpoint opens and serves, only without its progress lines.
    EXPECT_TRUE(waitUntil([&] { return !isUdpPortFree(adminPort); }));
    ASSERT_TRUE(server.stopDaemon());
    EXPECT_EQ(server.consoleText(), "Listen server started.\n");
    EXPECT_EQ(strippedLines(server.logText()),
              (std::vector<std::string>{
                  "- ZEVServer log opened -", "Listen server started.",
                  "Game Listening IP: 127.0.0.1", "", "PLEASE NOTE: Testmode is on.", "",
                  "ERROR: 'motd.txt' could not be opened for reading.",
                  "ADMINSERVER: successfully shutdown the server.",
                  "SERVER: A total of 0 bytes were received and 0 bytes were sent.",
                  "Server successfully shutdown.", "- ZEVServer log closed -"}));
}

TEST(Startup, IdleServerWaitsInsteadOfSpinning) {
    ServerProcess server;
    TestConfig config = TestConfig::standard();
    server.writeConfig(config);
    ASSERT_TRUE(server.startAndWaitReady()) << server.consoleText();
    double before = cpuSeconds(server.pid());
    // A measuring window, not a wait for an event: a polling loop would use all of it.
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    double used = cpuSeconds(server.pid()) - before;
    EXPECT_LT(used, 0.15) << "CPU seconds used in 0.6 s of idling";
    server.signal(SIGTERM);
    EXPECT_TRUE(server.waitForExit(nullptr));
}
