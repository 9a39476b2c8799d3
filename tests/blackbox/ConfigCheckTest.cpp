// zevserver --check-config: the start-up validation without starting, plus the warnings about
// what the server would read differently from what the operator meant.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "support/ServerProcess.h"
#include "support/UdpPeer.h"

namespace {

struct CheckResult {
    int status = -1;
    std::vector<std::string> lines;
};

CheckResult runCheck(ServerProcess& server, std::vector<std::string> args = {}) {
    args.insert(args.begin(), "--check-config");
    CheckResult result;
    EXPECT_TRUE(server.start(args));
    EXPECT_TRUE(server.waitForExit(&result.status));
    result.lines = splitLines(server.consoleText());
    return result;
}

bool hasLine(const CheckResult& result, const std::string& line) {
    for (const std::string& candidate : result.lines) {
        if (candidate == line) return true;
    }
    return false;
}

std::string dump(const CheckResult& result) {
    std::string text;
    for (const std::string& line : result.lines) text += line + "\n";
    return text;
}

}  // namespace

TEST(ConfigCheck, AValidConfigurationPassesWithoutOpeningAnythingOrWritingFiles) {
    ServerProcess server;
    TestConfig config = TestConfig::standard();
    config.entries["AdminServer"] = "1";
    config.entries["AdminPassword"] = "secret";
    server.writeConfig(config);
    CheckResult result = runCheck(server);
    EXPECT_EQ(result.status, 0) << dump(result);
    EXPECT_TRUE(hasLine(result, "Configuration OK: the server would start (0 warnings)."))
        << dump(result);
    // Neither the log nor the missing ban file is created, and the game port stays free.
    EXPECT_FALSE(server.dir().exists("server.log"));
    EXPECT_FALSE(server.dir().exists(config.entries["BannedFile"]));
    EXPECT_TRUE(isUdpPortFree(config.gamePort()));
}

TEST(ConfigCheck, StartUpErrorsFailTheCheckWithTheirStartUpMessages) {
    struct Case {
        std::string key;
        std::string value;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"GameMap", "6", "ERROR: A valid GameMap needs to be specified in the configuration file."},
        {"ServerPort", "70000", "ERROR: Port 70000 is out of range."},
        {"GeneralKey", "xyz", "ERROR: GeneralKey must be 32 hexadecimal digits."},
        {"GameIPAddress", "300.1.2.3",
         "ERROR: GameIPAddress '300.1.2.3' is not an IPv4 address; the port could not be bound."},
        {"GameHour", "24",
         "ERROR: GameHour needs to be specified in the configuration file and be between 0 and "
         "23"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        ServerProcess server;
        TestConfig config = TestConfig::standard();
        config.entries[c.key] = c.value;
        server.writeConfig(config);
        CheckResult result = runCheck(server);
        EXPECT_EQ(result.status, 1);
        EXPECT_TRUE(hasLine(result, c.message)) << dump(result);
        EXPECT_TRUE(hasLine(result, "Configuration check failed: the server would not start."))
            << dump(result);
    }
}

TEST(ConfigCheck, MissingFileAndCommandLineOverridesAreTheServersOwn) {
    ServerProcess missing;
    CheckResult result = runCheck(missing, {"-c", "nowhere.conf"});
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(hasLine(result, "ERROR: The configuration file could not be loaded."))
        << dump(result);

    // -m replaces the map before validation, exactly as a real start would.
    ServerProcess overridden;
    overridden.writeConfig(TestConfig::standard());
    result = runCheck(overridden, {"-m", "9"});
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(
        hasLine(result, "ERROR: A valid GameMap needs to be specified in the configuration file."))
        << dump(result);
}

TEST(ConfigCheck, WarnsAboutKeysAndValuesWithTheirLineNumbers) {
    ServerProcess server;
    TestConfig config = TestConfig::standard();
    std::string text = config.text();
    int lines = 0;
    for (char c : text) lines += c == '\n' ? 1 : 0;
    text += "# operator's additions\n";
    text += "MaxPlayer 10\n";
    text += "ASE yes\n";
    text += "ChatFloodMaxCount 3x\n";
    text += "ChatFloodMaxCount 4\n";
    text += "AdminPassword two words\n";
    text += "AdminPlusPassword  lost\n";
    server.dir().write("zevserver.conf", text);
    CheckResult result = runCheck(server, {"-c", "zevserver.conf"});
    EXPECT_EQ(result.status, 0) << dump(result);
    auto line = [&](int offset) { return "Line " + std::to_string(lines + offset) + ": "; };
    EXPECT_TRUE(hasLine(result, "WARNING: " + line(2) + "unknown key 'MaxPlayer' is ignored."))
        << dump(result);
    EXPECT_TRUE(hasLine(
        result, "WARNING: " + line(3) + "ASE 'yes' is read as off (use 1 for on, 0 for off)."))
        << dump(result);
    EXPECT_TRUE(hasLine(result, "WARNING: " + line(5) +
                                    "ChatFloodMaxCount is given again; it replaces line " +
                                    std::to_string(lines + 4) + "."))
        << dump(result);
    EXPECT_TRUE(hasLine(result, "WARNING: " + line(6) +
                                    "only 'two' is read from 'two words'; write a value with "
                                    "spaces in double quotes."))
        << dump(result);
    EXPECT_TRUE(hasLine(result, "WARNING: " + line(7) +
                                    "two spaces after AdminPlusPassword: its value is lost (use "
                                    "one space)."))
        << dump(result);
    // The value that counts is the last one, which is a plain integer.
    for (const std::string& output : result.lines) {
        EXPECT_EQ(output.find("'3x'"), std::string::npos) << output;
    }
}

TEST(ConfigCheck, ReportsBanLinesThatDoNotMeanWhatTheySay) {
    ServerProcess server;
    TestConfig config = TestConfig::standard();
    server.writeConfig(config);
    const std::string banFile = config.entries["BannedFile"];
    server.dir().write(banFile, "1.2.3.4\n10.0.5.3\n10.1\n010.0.0.1\nabc\n\n");
    CheckResult result = runCheck(server);
    EXPECT_EQ(result.status, 0) << dump(result);
    const std::string where = banFile + " line ";
    const std::vector<std::string> expected = {
        "Note: " + where +
            "2: 10.0.5.3 is a pattern: a 0 octet matches any value, so it bans "
            "10.*.5.3.",
        "WARNING: " + where + "3: '10.1' is read as 10.0.0.1, which bans 10.*.*.1.",
        "WARNING: " + where + "4: '010.0.0.1' is read as 8.0.0.1, which bans 8.*.*.1.",
        "WARNING: " + where + "5: 'abc' is not an IPv4 address; it bans nothing.",
        "WARNING: " + where + "6: an empty line bans nothing.",
        "Configuration OK: the server would start (4 warnings).",
    };
    for (const std::string& line : expected) EXPECT_TRUE(hasLine(result, line)) << line;
    for (const std::string& output : result.lines) {
        EXPECT_EQ(output.find(where + "1:"), std::string::npos) << output;
    }
    EXPECT_EQ(server.dir().read(banFile), "1.2.3.4\n10.0.5.3\n10.1\n010.0.0.1\nabc\n\n");
}

TEST(ConfigCheck, FollowsTheStartUpForTheLogAdminEndpointAndOddFiles) {
    ServerProcess server;
    TestConfig config = TestConfig::standard();
    config.entries["LogFile"] = "\"a.log\" \"b.log\"";
    config.entries["AdminServer"] = "1";
    config.entries["AdminPort"] = "70000";
    config.entries["AdminPassword"] = "secret";
    server.writeConfig(config);
    // A FIFO as the ban file must not make the check wait for a writer.
    ASSERT_EQ(mkfifo(server.dir().file(config.entries["BannedFile"]).c_str(), 0600), 0);

    // -l wins over LogFile, as it does at start-up, so LogFile's two values do not matter.
    CheckResult result = runCheck(server, {"-l", "chosen.log"});
    EXPECT_EQ(result.status, 0) << dump(result);
    for (const std::string& line : result.lines) {
        EXPECT_EQ(line.find("'LogFile'"), std::string::npos) << line;
    }
    EXPECT_TRUE(hasLine(result, "ERROR: Port 70000 is out of range.")) << dump(result);
    EXPECT_TRUE(hasLine(result, "Could not start admin server.")) << dump(result);
    EXPECT_TRUE(hasLine(result, "WARNING: The ban file '" + config.entries["BannedFile"] +
                                    "' cannot be read; the server would start with an empty "
                                    "list."))
        << dump(result);
    EXPECT_FALSE(server.dir().exists("chosen.log"));

    ServerProcess twoValues;
    twoValues.writeConfig(TestConfig::standard());
    result = runCheck(twoValues, {"-l", "a.log", "b.log"});
    EXPECT_TRUE(hasLine(result, "ERROR: Invalid number of arguments for '-l'.")) << dump(result);
}
