#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/ServerProcess.h"

namespace {

const std::string kOpened = "- ZEVServer log opened -";
const std::string kSetupError =
    "ERROR: Unable to setup log for writing ... no file logging available.";

// The console lines of a standard start with an existing ban file.
std::vector<std::string> startupLines(std::uint16_t port) {
    return {"ZEV Server (Patch 1) for ZEV 0.5",
            "",
            "Name: 'Test Server'",
            "Port: " + std::to_string(port),
            "Map: Liberty City : Portland",
            "Maximum Players: 32",
            "",
            "######",
            "Server successfully started on port " + std::to_string(port)};
}

// A standard configuration with an empty ban file already in place.
TestConfig prepare(ServerProcess& server) {
    TestConfig config = TestConfig::standard();
    server.writeConfig(config);
    server.dir().write("banned.txt", "");
    return config;
}

void stop(ServerProcess& server) {
    server.signal(SIGTERM);
    EXPECT_TRUE(server.waitForExit(nullptr));
}

}  // namespace

TEST(Log, StartupLinesInOrderOnConsoleAndInFile) {
    ServerProcess server;
    TestConfig config = prepare(server);
    server.dir().write("server.log", "left over from an earlier run\n");
    ASSERT_TRUE(server.startAndWaitReady()) << server.consoleText();
    ASSERT_TRUE(server.waitForText("server.log", "Server successfully started on port"));
    stop(server);

    std::vector<std::string> expected = startupLines(config.gamePort());
    EXPECT_EQ(splitLines(server.consoleText()), expected);

    std::vector<std::string> file = splitLines(server.logText());
    ASSERT_EQ(file.size(), expected.size() + 1) << server.logText();
    EXPECT_EQ(file.front(), kOpened);
    for (std::size_t i = 1; i < file.size(); ++i) {
        EXPECT_TRUE(hasTimePrefix(file[i])) << file[i];
        EXPECT_EQ(stripTimePrefix(file[i]), expected[i - 1]);
    }
}

TEST(Log, QuietModeWritesOnlyToTheFile) {
    for (const char* option : {"-q", "--quiet"}) {
        SCOPED_TRACE(option);
        ServerProcess server;
        TestConfig config = prepare(server);
        ASSERT_TRUE(server.start({option}));
        ASSERT_TRUE(server.waitForText("server.log", "Server successfully started on port"))
            << server.consoleText();
        stop(server);
        EXPECT_EQ(server.consoleText(), "");
        std::vector<std::string> file = splitLines(server.logText());
        ASSERT_FALSE(file.empty());
        EXPECT_EQ(file.front(), kOpened);
        EXPECT_TRUE(std::all_of(file.begin() + 1, file.end(), hasTimePrefix)) << server.logText();
        std::vector<std::string> stripped = strippedLines(server.logText());
        EXPECT_EQ(std::vector<std::string>(stripped.begin() + 1, stripped.end()),
                  startupLines(config.gamePort()));
    }
}

TEST(Log, QuietModeWithoutLogFileWritesNothing) {
    struct Case {
        const char* what;
        bool configured;
    };
    for (const Case& c :
         {Case{"missing configuration", false}, Case{"invalid configuration", true}}) {
        SCOPED_TRACE(c.what);
        ServerProcess server;
        if (c.configured) server.dir().write("zevserver.conf", "ServerName Quiet\n");
        ASSERT_TRUE(server.start({"-q"}));
        int status = -1;
        ASSERT_TRUE(server.waitForExit(&status));
        EXPECT_EQ(status, 0);
        EXPECT_EQ(server.consoleText(), "");
        EXPECT_EQ(server.errorText(), "");
    }
}

TEST(Log, TimeOptionPrefixesConsoleLines) {
    for (const char* option : {"-t", "--time"}) {
        SCOPED_TRACE(option);
        ServerProcess server;
        TestConfig config = prepare(server);
        ASSERT_TRUE(server.startAndWaitReady({option})) << server.consoleText();
        stop(server);
        std::vector<std::string> console = splitLines(server.consoleText());
        EXPECT_TRUE(std::all_of(console.begin(), console.end(), hasTimePrefix))
            << server.consoleText();
        EXPECT_EQ(strippedLines(server.consoleText()), startupLines(config.gamePort()));
    }
}

TEST(Log, FileChoice) {
    struct Case {
        const char* what;
        std::vector<std::string> args;
        const char* logFile;      // the LogFile value; nullptr leaves the key out
        const char* optionError;  // the line written before the banner, if any
        bool setupFails;          // the setup error follows the banner
        const char* opened;       // the file that gets the log, if any
    };
    const std::vector<Case> cases = {
        {"LogFile", {}, "server.log", nullptr, false, "server.log"},
        {"-l replaces LogFile", {"-l", "other.log"}, "server.log", nullptr, false, "other.log"},
        {"--log replaces LogFile", {"--log=other.log"}, "server.log", nullptr, false, "other.log"},
        {"the later -l wins",
         {"-l", "a.log", "-l", "other.log"},
         nullptr,
         nullptr,
         false,
         "other.log"},
        {"-l wins over --log",
         {"--log", "b.log", "-l", "other.log"},
         nullptr,
         nullptr,
         false,
         "other.log"},
        {"no LogFile", {}, nullptr, nullptr, false, nullptr},
        {"-l with two values",
         {"-l", "a.log", "b.log"},
         "server.log",
         "ERROR: Invalid number of arguments for '-l'.",
         true,
         nullptr},
        {"--log without a value",
         {"--log"},
         "server.log",
         "ERROR: Invalid number of arguments for '--log'.",
         true,
         nullptr},
        {"LogFile without a value",
         {},
         "",
         "ERROR: Invalid number of values for 'LogFile' in the configuration file.",
         true,
         nullptr},
        {"LogFile with two values",
         {},
         "a.log \"b.log\"",
         "ERROR: Invalid number of values for 'LogFile' in the configuration file.",
         true,
         nullptr},
        {"LogFile in a missing folder", {}, "absent/server.log", nullptr, true, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ServerProcess server;
        TestConfig config = TestConfig::standard();
        if (c.logFile == nullptr) {
            config.entries.erase("LogFile");
        } else {
            config.entries["LogFile"] = c.logFile;
        }
        server.writeConfig(config);
        server.dir().write("banned.txt", "");
        ASSERT_TRUE(server.startAndWaitReady(c.args)) << server.consoleText();
        if (c.opened != nullptr) {
            ASSERT_TRUE(server.waitForText(c.opened, "Server successfully"));
        }
        stop(server);

        std::vector<std::string> expected;
        if (c.optionError != nullptr) expected.push_back(c.optionError);
        std::vector<std::string> normal = startupLines(config.gamePort());
        expected.insert(expected.end(), normal.begin(), normal.begin() + 2);
        if (c.setupFails) {
            expected.push_back(kSetupError);
            expected.push_back("");
        }
        expected.insert(expected.end(), normal.begin() + 2, normal.end());
        EXPECT_EQ(splitLines(server.consoleText()), expected);

        for (const char* name : {"server.log", "other.log", "a.log", "b.log"}) {
            bool wanted = c.opened != nullptr && std::string(name) == c.opened;
            EXPECT_EQ(server.dir().exists(name), wanted) << name;
        }
        if (c.opened != nullptr) {
            std::vector<std::string> file = splitLines(server.logText(c.opened));
            ASSERT_FALSE(file.empty());
            EXPECT_EQ(file.front(), kOpened);
            EXPECT_EQ(stripTimePrefix(file.back()), normal.back());
        }
    }
}

TEST(Log, StatisticsLineGoesToTheFileOnly) {
    ServerProcess server;
    TestConfig config = prepare(server);
    config.entries["StatLogging"] = "1";
    config.entries["MOTDEnabled"] = "1";  // without motd.txt: an error line right after it
    server.writeConfig(config);
    const std::string motdError = "ERROR: 'motd.txt' could not be opened for reading.";
    ASSERT_TRUE(server.start({"-t"}));
    ASSERT_TRUE(server.waitForText("stdout.txt", motdError)) << server.consoleText();
    ASSERT_TRUE(server.waitForText("server.log", motdError));
    stop(server);

    std::string port = std::to_string(config.gamePort());
    std::string statLine =
        "ServerInit: Test Server\xA9" + port + "\xA9GTA3:Portland\xA9" + "32\xA9";
    std::vector<std::string> file = splitLines(server.logText());
    auto found = std::find_if(file.begin(), file.end(), [&](const std::string& line) {
        return stripTimePrefix(line) == statLine;
    });
    ASSERT_NE(found, file.end()) << server.logText();
    EXPECT_TRUE(hasTimePrefix(*found));
    EXPECT_EQ(stripTimePrefix(*(found - 1)), "Server successfully started on port " + port);
    ASSERT_NE(found + 1, file.end());
    EXPECT_TRUE(hasTimePrefix(*(found + 1))) << *(found + 1);
    EXPECT_EQ(stripTimePrefix(*(found + 1)), motdError);

    // The console skips the statistics line, and the line after it still gets its prefix.
    EXPECT_EQ(server.consoleText().find("ServerInit"), std::string::npos) << server.consoleText();
    std::vector<std::string> console = splitLines(server.consoleText());
    EXPECT_TRUE(std::all_of(console.begin(), console.end(), hasTimePrefix)) << server.consoleText();
    EXPECT_TRUE(containsLines(strippedLines(server.consoleText()),
                              {"Server successfully started on port " + port, motdError}));
}
