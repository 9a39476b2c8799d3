#include <gtest/gtest.h>

#include <cstring>

#include "support/ServerProcess.h"
#include "support/TestClient.h"

namespace {

// Every client gets an address of its own: joins are counted per address, not per port.
class JoinTest : public ::testing::Test {
protected:
    void startServer(const std::map<std::string, std::string>& extra = {},
                     const std::vector<std::string>& args = {}) {
        m_config = TestConfig::standard();
        for (const auto& [key, value] : extra) m_config.entries[key] = value;
        m_server.writeConfig(m_config);
        ASSERT_TRUE(m_server.startAndWaitReady(args)) << m_server.consoleText();
    }

    TestClient client(int host) {
        return TestClient(m_config.gamePort(), "127.0.0." + std::to_string(host));
    }

    // Joins and skips the message of the day that may follow.
    void joinOk(TestClient& player, const std::string& nick) {
        std::optional<Bytes> reply = player.join(nick);
        ASSERT_TRUE(reply.has_value());
        ASSERT_EQ((*reply)[0], 1) << "refused with reason "
                                  << int(reply->size() > 1 ? (*reply)[1] : -1);
    }

    TestConfig m_config;
    ServerProcess m_server;
};

Bytes refusal(int reason) { return Bytes{6, static_cast<std::uint8_t>(reason)}; }

}  // namespace

TEST_F(JoinTest, ReplyCarriesGameStateKeyNameAndOtherPlayers) {
    startServer({{"GameMap", "4"},
                 {"MaxPlayers", "12"},
                 {"GameHour", "7"},
                 {"GameMins", "30"},
                 {"MOTDURL", "http://example.org/motd"}});
    TestClient first = client(10);
    joinOk(first, "Ann");
    TestClient second = client(11);
    std::optional<Bytes> reply = second.join("Bob");
    ASSERT_TRUE(reply.has_value());
    const Bytes& r = *reply;
    ASSERT_EQ(r.size(), 342u + 11u);
    const Bytes header = {1, 1, 4, 0, 1, 12, 7, 30, 0};
    EXPECT_EQ(Bytes(r.begin(), r.begin() + 9), header);
    const Bytes checks = {0xED, 0x0D, 0xDF, 0x7F, 0xA4, 0x92, 0xFF, 0xF3, 0x68, 0xA8, 0x24, 0xE9};
    EXPECT_EQ(Bytes(r.begin() + 9, r.begin() + 21), checks);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&r[37])), "Test Server");
    EXPECT_EQ(r[37 + 49], 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&r[87])), "http://example.org/motd");
    // Ann: id 0, score 0, money 0 (Liberty City maps carry money), her nick, 0x07.
    const Bytes entry = {0, 0, 0, 0, 0, 0, 0, 'A', 'n', 'n', 7};
    EXPECT_EQ(Bytes(r.end() - 11, r.end()), entry);

    // The key in the reply is the one the newcomer's traffic uses from now on.
    ASSERT_TRUE(second.send(Bytes{2}));
    std::optional<Bytes> left = first.waitFor(9);
    ASSERT_TRUE(left.has_value());
    EXPECT_EQ(*left, (Bytes{9, 0, 1}));
}

TEST_F(JoinTest, ViceCityEntriesHaveNoMoney) {
    startServer({{"GameMap", "1"}, {"MaxPlayers", "26"}});
    TestClient first = client(10);
    joinOk(first, "Ann");
    TestClient second = client(11);
    std::optional<Bytes> reply = second.join("Bob");
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(Bytes(reply->begin() + 1, reply->begin() + 3), (Bytes{2, 1}));
    EXPECT_EQ(Bytes(reply->begin() + 9, reply->begin() + 13), (Bytes{0x53, 0x4B, 0xD9, 0x6A}));
    EXPECT_EQ(Bytes(reply->end() - 7, reply->end()), (Bytes{0, 0, 0, 'A', 'n', 'n', 7}));
}

TEST_F(JoinTest, OthersAreToldOfNewcomerAndOfQuit) {
    startServer();
    TestClient first = client(10);
    joinOk(first, "Ann");
    TestClient second = client(11);
    joinOk(second, "Bob");
    std::optional<Bytes> joined = first.waitFor(8);
    ASSERT_TRUE(joined.has_value());
    EXPECT_EQ(*joined, (Bytes{8, 1, 'B', 'o', 'b'}));

    ASSERT_TRUE(first.send(Bytes{2}));
    std::optional<Bytes> left = second.waitFor(9);
    ASSERT_TRUE(left.has_value());
    EXPECT_EQ(*left, (Bytes{9, 0, 0}));
    EXPECT_TRUE(m_server.waitForText("server.log", "QUIT: 'Ann', PlayerID = 0"));
    EXPECT_NE(m_server.logText().find("JOIN: 'Bob', PlayerID = 1 (127.0.0.11)"), std::string::npos);
}

TEST_F(JoinTest, RefusalsInTheirOrder) {
    m_server.dir().write("banned.txt", "127.0.0.20\n");
    startServer({{"MaxPlayers", "2"}, {"ServerPasswordEnabled", "1"}, {"ServerPassword", "pw"}});
    TestClient ann = client(10);
    ASSERT_TRUE(ann.join("Ann", "pw").has_value());

    struct Case {
        int host;
        Bytes request;
        Bytes answer;
    };
    const Case cases[] = {
        {20, TestClient::joinRequest("Ban", "pw"), refusal(1)},
        {21, TestClient::joinRequest("Ver", "pw", '1'), refusal(6)},
        {22, TestClient::joinRequest("Chk", "pw", '2', 0, 0x12345678), refusal(8)},
        {23, TestClient::joinRequest("\x01\x1F", "pw"), Bytes{6}},
        {24, TestClient::joinRequest("aNN", "pw"), refusal(0)},
        {25, TestClient::joinRequest("AdMin", "pw"), refusal(10)},
        {26, TestClient::joinRequest("[zev]x", "pw"), refusal(10)},
        {27, TestClient::joinRequest("Pwd", "PW"), refusal(4)},
        // The banned address is refused for the ban even when the versions differ.
        {20, TestClient::joinRequest("Ban", "pw", '1'), refusal(1)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.host);
        TestClient newcomer = client(c.host);
        ASSERT_TRUE(newcomer.sendWithGeneralKey(c.request));
        std::optional<Bytes> answer = newcomer.receiveWithGeneralKey();
        ASSERT_TRUE(answer.has_value());
        EXPECT_EQ(*answer, c.answer);
    }
    EXPECT_TRUE(m_server.waitForText("server.log",
                                     "ERROR: Unable to add 'Pwd' from '127.0.0.27,' password is "
                                     "incorrect."));

    // A tag with clientKind 3 is allowed; then the server is full.
    TestClient tagged = client(30);
    ASSERT_TRUE(tagged.sendWithGeneralKey(TestClient::joinRequest("(ZEV}x", "pw", '2', 3)));
    std::optional<Bytes> reply = tagged.receiveWithGeneralKey();
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ((*reply)[0], 1);
    TestClient late = client(31);
    ASSERT_TRUE(late.sendWithGeneralKey(TestClient::joinRequest("Late", "pw")));
    EXPECT_EQ(late.receiveWithGeneralKey(), refusal(7));

    // A joined player asking again is refused under the general key.
    ASSERT_TRUE(ann.waitFor(8).has_value());
    ASSERT_TRUE(ann.send(TestClient::joinRequest("Ann", "pw")));
    EXPECT_EQ(ann.receiveWithGeneralKey(), refusal(2));
}

TEST_F(JoinTest, RejoiningSoonFromTheSameAddressIsAJoinFlood) {
    startServer();
    TestClient first = client(10);
    joinOk(first, "Ann");
    ASSERT_TRUE(first.send(Bytes{2}));
    ASSERT_TRUE(m_server.waitForText("server.log", "QUIT: 'Ann'"));
    // Another port of the same address counts as the same address.
    TestClient again = client(10);
    ASSERT_TRUE(again.sendWithGeneralKey(TestClient::joinRequest("Ann")));
    EXPECT_EQ(again.receiveWithGeneralKey(), refusal(12));
}

TEST_F(JoinTest, MessageOfTheDayFollowsTheReply) {
    m_server.dir().write("motd.txt", "Welcome to the test\r\n");
    startServer({{"MOTDEnabled", "1"}});
    TestClient player = client(10);
    joinOk(player, "Ann");
    std::optional<Bytes> motd = player.receive();
    ASSERT_TRUE(motd.has_value());
    const std::string text = "Welcome to the test";
    Bytes expected = {21};
    expected.insert(expected.end(), text.begin(), text.end());
    expected.push_back(0);
    EXPECT_EQ(*motd, expected);
}

TEST_F(JoinTest, DebugLineNamesCommandSenderLengthAndId) {
    startServer({{"DebugOutput", "1"}});
    TestClient player = client(10);
    Bytes request = TestClient::joinRequest("Ann");
    joinOk(player, "Ann");
    EXPECT_TRUE(m_server.waitForText(
        "server.log", "SERVER-DEBUG: processCommand: 1 from '127.0.0.10' (numbytes = " +
                          std::to_string(request.size()) + ") - -1"));
}

TEST_F(JoinTest, GeneralKeySettingReplacesTheBuiltInKey) {
    startServer({{"GeneralKey", "000102030405060708090A0B0C0D0E0F"}});
    TestClient wrongKey = client(10);
    ASSERT_TRUE(wrongKey.sendWithGeneralKey(TestClient::joinRequest("Ann")));
    EXPECT_TRUE(wrongKey.quietFor(300));

    TestClient player = client(11);
    const std::uint8_t key[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    player.setGeneralKey(key);
    joinOk(player, "Bob");
}

TEST(GeneralKey, MalformedSettingStopsTheStart) {
    ServerProcess server;
    TestConfig config = TestConfig::standard();
    config.entries["GeneralKey"] = "0001020304";
    server.writeConfig(config);
    ASSERT_TRUE(server.start());
    int status = -1;
    ASSERT_TRUE(server.waitForExit(&status));
    EXPECT_EQ(status, 0);
    std::vector<std::string> lines = strippedLines(server.logText());
    EXPECT_TRUE(containsLines(
        lines, {"ERROR: GeneralKey must be 32 hexadecimal digits.", "- ZEVServer log closed -"}))
        << server.logText();
    EXPECT_EQ(server.consoleText().find("Server successfully started"), std::string::npos);
}
