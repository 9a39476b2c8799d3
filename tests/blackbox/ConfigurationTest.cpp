#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/ServerProcess.h"

namespace {

const std::string kBanner = "ZEV Server (Patch 1) for ZEV 0.5";
const std::string kSummaryError =
    "ERROR: The ServerName, ServerPort, GameMap, GameHour, GameMins, Weather and BannedFile MUST "
    "be specified in the configuration file.";
const std::string kNameError =
    "ERROR: A ServerName MUST be specified in the configuration file AND must be between 1 and 49 "
    "characters in length.";
const std::string kPortError =
    "ERROR: A ServerPort needs to be specified in the configuration file AND be > 0.";
const std::string kMapError =
    "ERROR: A valid GameMap needs to be specified in the configuration file.";
const std::string kPlayers32Error =
    "ERROR: MaxPlayers needs to be specified in the configuration file, be between 1 and 32.";
const std::string kPlayers26Error =
    "ERROR: MaxPlayers needs to be specified in the configuration file, be between 1 and 26.";
const std::string kHourError =
    "ERROR: GameHour needs to be specified in the configuration file and be between 0 and 23";
const std::string kMinsError =
    "ERROR: GameMins needs to be specified in the configuration file and be between 0 and 59";
const std::string kBannedError =
    "ERROR: A BannedFile needs to be specified in the configuration file";

std::vector<std::string> filesIn(const TempDir& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Runs the server to its end and returns its console lines; the exit status must be 0.
std::vector<std::string> runToExit(ServerProcess& server, const std::vector<std::string>& args) {
    EXPECT_TRUE(server.start(args));
    int status = -1;
    EXPECT_TRUE(server.waitForExit(&status));
    EXPECT_EQ(status, 0);
    return splitLines(server.consoleText());
}

}  // namespace

TEST(Configuration, MissingFileInConsoleMode) {
    ServerProcess server;
    EXPECT_EQ(runToExit(server, {}),
              (std::vector<std::string>{kBanner, "",
                                        "ERROR: The configuration file could not be loaded."}));
    EXPECT_EQ(filesIn(server.dir()), (std::vector<std::string>{"stderr.txt", "stdout.txt"}));
}

TEST(Configuration, MissingFileInListenMode) {
    ServerProcess server;
    EXPECT_EQ(runToExit(server, {"--listen", "-c", "absent.conf"}),
              (std::vector<std::string>{"The configuration file could not be loaded.",
                                        "Please click \"Setup Server\" and check that "
                                        "\"zevserver.conf\" is in your ZEV install folder."}));
    EXPECT_EQ(filesIn(server.dir()), (std::vector<std::string>{"stderr.txt", "stdout.txt"}));
}

TEST(Configuration, ValidationFailuresNameTheirReason) {
    struct Case {
        const char* what;
        std::map<std::string, std::string> set;
        std::vector<std::string> erase;
        std::vector<std::string> messages;
    };
    const std::vector<Case> cases = {
        {"no name", {}, {"ServerName"}, {kNameError}},
        {"name of 50", {{"ServerName", std::string(50, 'n')}}, {}, {kNameError}},
        {"empty quoted name", {{"ServerName", "\"\""}}, {}, {kNameError}},
        {"name and port missing", {}, {"ServerName", "ServerPort"}, {kNameError}},
        {"port not a number", {{"ServerPort", "abc"}}, {}, {kPortError}},
        {"port key alone", {{"ServerPort", ""}}, {}, {kPortError}},
        {"map 0 skips the later checks",
         {{"GameMap", "0"}, {"MaxPlayers", "40"}, {"GameHour", "24"}},
         {"BannedFile"},
         {kMapError}},
        {"map 6", {{"GameMap", "6"}}, {}, {kMapError}},
        {"27 players on Vice City",
         {{"GameMap", "1"}, {"MaxPlayers", "27"}},
         {},
         {kPlayers26Error}},
        {"33 players skips the clock checks",
         {{"MaxPlayers", "33"}, {"GameHour", "24"}},
         {},
         {kPlayers32Error}},
        {"no players", {{"MaxPlayers", "0"}}, {}, {kPlayers32Error}},
        {"hour and minute both wrong",
         {{"GameHour", "24"}, {"GameMins", "60"}},
         {},
         {kHourError, kMinsError}},
        {"no minute", {}, {"GameMins"}, {kMinsError}},
        {"negative hour", {{"GameHour", "-1"}}, {}, {kHourError}},
        {"no ban file", {}, {"BannedFile"}, {kBannedError}},
        {"ban file checked only when the rest passed",
         {{"GameMins", "60"}},
         {"BannedFile"},
         {kMinsError}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ServerProcess server;
        TestConfig config = TestConfig::standard();
        for (const auto& [key, value] : c.set) config.entries[key] = value;
        for (const std::string& key : c.erase) config.entries.erase(key);
        server.writeConfig(config);
        std::vector<std::string> expected = c.messages;
        expected.push_back(kSummaryError);
        expected.push_back(kSummaryError);
        EXPECT_EQ(runToExit(server, {}), expected);
        // Nothing is opened before the configuration passes.
        EXPECT_EQ(filesIn(server.dir()),
                  (std::vector<std::string>{"stderr.txt", "stdout.txt", "zevserver.conf"}));
    }
}

TEST(Configuration, ValidationFailureInListenMode) {
    ServerProcess server;
    TestConfig config = TestConfig::standard();
    config.entries["GameMins"] = "60";
    server.writeConfig(config);
    EXPECT_EQ(runToExit(server, {"-i"}),
              (std::vector<std::string>{
                  kMinsError, kSummaryError, "The server is setup incorrectly.",
                  "Please click \"Setup Server\" and check the settings are correct."}));
}

TEST(Configuration, LimitValuesAreAccepted) {
    struct Case {
        const char* what;
        std::map<std::string, std::string> set;
        std::string line;
    };
    const std::string name49(49, 'n');
    const std::vector<Case> cases = {
        {"name of 49", {{"ServerName", name49}}, "Name: '" + name49 + "'"},
        {"26 players on Vice City",
         {{"GameMap", "2"}, {"MaxPlayers", "26"}},
         "Maximum Players: 26"},
        {"one player", {{"MaxPlayers", "1"}}, "Maximum Players: 1"},
        {"clock at its limits", {{"GameHour", "23"}, {"GameMins", "59"}}, "Maximum Players: 32"},
        {"clock at zero", {{"GameHour", "0"}, {"GameMins", "0"}}, "Maximum Players: 32"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ServerProcess server;
        TestConfig config = TestConfig::standard();
        for (const auto& [key, value] : c.set) config.entries[key] = value;
        server.writeConfig(config);
        ASSERT_TRUE(server.startAndWaitReady()) << server.consoleText();
        server.signal(SIGTERM);
        ASSERT_TRUE(server.waitForExit(nullptr));
        EXPECT_TRUE(containsLines(splitLines(server.consoleText()), {c.line}))
            << server.consoleText();
    }
}

TEST(Configuration, FileSyntax) {
    struct Case {
        const char* what;
        std::string extra;  // lines appended after the standard ones
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases = {
        {"quoted name keeps its spaces",
         "ServerName \"My  Big Server\"\n",
         {"Name: 'My  Big Server'"}},
        {"unquoted name keeps its first word", "ServerName My Server\n", {"Name: 'My'"}},
        {"a later line replaces the key",
         "ServerName First\nServerName Second\n",
         {"Name: 'Second'"}},
        {"text before an opening quote is dropped",
         "ServerName pre\"Quoted Name\"\n",
         {"Name: 'Quoted Name'"}},
        {"spaces around a line and runs of spaces",
         "   ServerName Padded   \n",
         {"Name: 'Padded'"}},
        {"comments, indented or not",
         "# ServerName One\n   # ServerName Two\n",
         {"Name: 'Test Server'"}},
        {"a hash inside a value is text", "ServerName Hash#Tag\n", {"Name: 'Hash#Tag'"}},
        {"port read up to its first non-digit", "ServerPort {port}abc\n", {"Port: {port}abc"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ServerProcess server;
        TestConfig config = TestConfig::standard();
        std::string port = std::to_string(config.gamePort());
        auto fill = [&port](std::string text) {
            for (std::size_t at = text.find("{port}"); at != std::string::npos;
                 at = text.find("{port}")) {
                text.replace(at, 6, port);
            }
            return text;
        };
        server.dir().write("zevserver.conf", config.text() + fill(c.extra));
        ASSERT_TRUE(server.startAndWaitReady()) << server.consoleText();
        server.signal(SIGTERM);
        ASSERT_TRUE(server.waitForExit(nullptr));
        std::vector<std::string> expected;
        for (const std::string& line : c.expected) expected.push_back(fill(line));
        std::vector<std::string> lines = splitLines(server.consoleText());
        EXPECT_TRUE(containsLines(lines, expected)) << server.consoleText();
        EXPECT_TRUE(containsLines(lines, {"Server successfully started on port " + port}))
            << server.consoleText();
    }
}

TEST(Configuration, UnmatchedQuoteIsReportedWithItsLineAndReadingGoesOn) {
    ServerProcess server;
    TestConfig config = TestConfig::standard();
    config.entries.erase("ServerName");
    // Comment and empty lines count: the broken line is the third, and the lines after it are
    // still read.
    server.dir().write("zevserver.conf", "# comment\n\nMOTDURL \"http://unterminated\n" +
                                             config.text() + "ServerName \"After\"\n");
    ASSERT_TRUE(server.startAndWaitReady()) << server.consoleText();
    server.signal(SIGTERM);
    ASSERT_TRUE(server.waitForExit(nullptr));
    std::vector<std::string> lines = splitLines(server.consoleText());
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), "ERROR: Unmatched quotation in configuration file. (Line #3)");
    EXPECT_TRUE(containsLines(lines, {kBanner, ""})) << server.consoleText();
    EXPECT_TRUE(containsLines(lines, {"Name: 'After'"})) << server.consoleText();
}
