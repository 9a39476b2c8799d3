#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "UnitSupport.h"
#include "game/GameSession.h"
#include "net/AdminServer.h"
#include "net/Server.h"

namespace {

class GameSessionTest : public CoreTest {
protected:
    void SetUp() override {
        CoreTest::SetUp();
        configure();
    }
    // A Portland session for 32 players starting at 12:30.
    static void configure() {
        setConf("GameMap", "3");
        setConf("MaxPlayers", "32");
        setConf("GameHour", "12");
        setConf("GameMins", "30");
    }
    void TearDown() override {
        delete Server::getInstance();
        delete AdminServer::getInstance();
        CoreTest::TearDown();
    }
};

}  // namespace

TEST_F(GameSessionTest, ConstructorNamesTheMapAndPlayerLimit) {
    struct Case {
        const char* map;
        const char* line;
        int clientType;
    };
    const Case cases[] = {
        {"1", "Map: Vice City : Deathmatch", 2},
        {"2", "Map: Vice City : Stunt", 2},
        {"3", "Map: Liberty City : Portland", 1},
        {"4", "Map: Liberty City : Shore Side Vale", 1},
        {"5", "Map: Liberty City : Staunton Island", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.map);
        clearConsole();
        ASSERT_TRUE(Conf::getInstance()->setConfEntryValue("GameMap", c.map, 0));
        ASSERT_TRUE(Conf::getInstance()->setConfEntryValue("MaxPlayers", "8", 0));
        GameSession session;
        EXPECT_EQ(console(), std::string(c.line) + "\nMaximum Players: 8\n\n");
        EXPECT_EQ(session.getClientType(), c.clientType);
        EXPECT_EQ(session.getMapNumber(), std::atoi(c.map));
        EXPECT_EQ(session.getMaxPlayers(), 8);
    }
}

TEST_F(GameSessionTest, StartsWithConfiguredClockAndNothingEnabled) {
    GameSession session;
    EXPECT_EQ(session.getGameHour(), 12);
    EXPECT_EQ(session.getGameMins(), 30);
    EXPECT_EQ(session.getWeatherHold(), 0);
    EXPECT_FALSE(session.isMotdLoaded());
    EXPECT_FALSE(session.isPasswordRequired());
    EXPECT_FALSE(session.killServer());
}

TEST_F(GameSessionTest, RichMotdUrlRules) {
    const std::string urlError = "ERROR: Rich MOTD URLs must begin include the initial http://.\n";
    const std::string header = "Map: Liberty City : Portland\nMaximum Players: 32\n";
    struct Case {
        const char* name;
        std::optional<std::string> motdUrl;  // value text of the key; nullopt: absent
        bool listen;
        std::string lines;  // what the constructor writes before its empty line
        const char* url;
    };
    const Case cases[] = {
        {"absent", std::nullopt, false, header, ""},
        {"accepted", "http://zev.example/motd", false,
         header + "Rich MOTD source: http://zev.example/motd\n", "http://zev.example/motd"},
        {"upper-case scheme", "HTTP://zev.example/motd", false, header + urlError, ""},
        {"other scheme", "ftp://zev.example/motd", false, header + urlError, ""},
        {"scheme cut short", "http:/", false, header + urlError, ""},
        {"two values ignored", "\"http://a.example\" \"http://b.example\"", false, header, ""},
        {"key without value", "", false, header, ""},
        {"listen mode writes no progress lines", "http://zev.example/motd", true, "",
         "http://zev.example/motd"},
        {"listen mode still reports a bad url", "https://zev.example", true, urlError, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        delete Conf::getInstance();
        configure();
        clearConsole();
        Log::getInstance()->setListenMode(c.listen);
        if (c.motdUrl) setConf("MOTDURL", *c.motdUrl);
        GameSession session;
        EXPECT_EQ(console(), c.lines + "\n");
        EXPECT_STREQ(session.getMotdUrl(), c.url);
    }
}

TEST_F(GameSessionTest, OverlongMotdUrlIsCutToTheField) {
    setConf("MOTDURL", "http://" + std::string(400, 'x'));
    GameSession session;
    std::string url = session.getMotdUrl();
    EXPECT_LT(url.size(), GameSession::kMotdUrlSize);
    EXPECT_EQ(url.rfind("http://", 0), 0u);
}

TEST_F(GameSessionTest, MessageOfTheDayDropsOneFinalLineEnd) {
    struct Case {
        const char* name;
        std::string file;
        std::string message;
    };
    const Case cases[] = {
        {"newline dropped", "Welcome\n", "Welcome"},
        {"carriage return and newline dropped", "Welcome\r\n", "Welcome"},
        {"nothing dropped without a newline", "Welcome", "Welcome"},
        {"only one newline dropped", "Welcome\n\n", "Welcome\n"},
        {"a lone carriage return stays", "Welcome\r", "Welcome\r"},
        {"empty file", "", ""},
        {"lines kept", "Line one\nLine two\n", "Line one\nLine two"},
        {"long files are cut and keep their NUL", std::string(3000, 'm'), std::string(2022, 'm')},
    };
    TempDir dir;
    WorkingDirectory cwd(dir.path());
    ASSERT_TRUE(cwd.changed());
    GameSession session;
    clearConsole();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // A long message first, so that a shorter one must not show its leftovers.
        dir.write("motd.txt", std::string(2100, 'z'));
        ASSERT_TRUE(session.loadMessageOfTheDay());
        dir.write("motd.txt", c.file);
        EXPECT_TRUE(session.loadMessageOfTheDay());
        EXPECT_TRUE(session.isMotdLoaded());
        EXPECT_EQ(std::string(session.getMotdText()), c.message);
    }
    EXPECT_EQ(console(), "");
}

TEST_F(GameSessionTest, MissingMessageOfTheDayFileKeepsWhatWasLoaded) {
    TempDir dir;
    WorkingDirectory cwd(dir.path());
    ASSERT_TRUE(cwd.changed());
    GameSession session;
    EXPECT_FALSE(session.loadMessageOfTheDay());
    EXPECT_FALSE(session.isMotdLoaded());

    dir.write("motd.txt", "Hello\n");
    ASSERT_TRUE(session.loadMessageOfTheDay());
    ASSERT_TRUE(session.isMotdLoaded());
    std::remove(dir.file("motd.txt").c_str());
    EXPECT_FALSE(session.loadMessageOfTheDay());
    EXPECT_TRUE(session.isMotdLoaded());
    EXPECT_STREQ(session.getMotdText(), "Hello");
}

TEST_F(GameSessionTest, ClockTickAddsOneGameMinute) {
    struct Case {
        const char* hour;
        const char* mins;
        int nextHour;
        int nextMins;
    };
    const Case cases[] = {
        {"23", "59", 0, 0},  {"10", "58", 10, 59}, {"10", "59", 11, 0},
        {"22", "59", 23, 0}, {"0", "0", 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.hour) + ":" + c.mins);
        ASSERT_TRUE(Conf::getInstance()->setConfEntryValue("GameHour", c.hour, 0));
        ASSERT_TRUE(Conf::getInstance()->setConfEntryValue("GameMins", c.mins, 0));
        GameSession session;
        session.tickClock();
        EXPECT_EQ(session.getGameHour(), c.nextHour);
        EXPECT_EQ(session.getGameMins(), c.nextMins);
    }
}

TEST_F(GameSessionTest, ADayLastsTwentyFourMinutesOfTicks) {
    GameSession session;
    for (int i = 0; i < 24 * 60; ++i) session.tickClock();
    EXPECT_EQ(session.getGameHour(), 12);
    EXPECT_EQ(session.getGameMins(), 30);
}

TEST_F(GameSessionTest, WeatherHoldCountsDownToZero) {
    GameSession session;
    session.setWeatherHold(2);
    session.tickClock();
    EXPECT_EQ(session.getWeatherHold(), 1);
    session.tickClock();
    EXPECT_EQ(session.getWeatherHold(), 0);
    session.tickClock();
    EXPECT_EQ(session.getWeatherHold(), 0);
    EXPECT_EQ(session.getGameMins(), 33);

    session.setWeatherHold(-3);
    session.tickClock();
    EXPECT_EQ(session.getWeatherHold(), -3);
}
