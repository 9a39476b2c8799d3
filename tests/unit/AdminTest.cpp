#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "UnitSupport.h"
#include "admin/AdminRules.h"
#include "admin/Ban.h"
#include "admin/WarnList.h"
#include "game/GameSession.h"
#include "game/PlayerList.h"
#include "support/FakeEndpoint.h"
#include "support/TestClient.h"

using namespace std::string_literals;

namespace {

constexpr const char* kPassword = "secret";
constexpr const char* kPlusPassword = "plus";

// [code, payload bytes].
Bytes datagram(std::uint8_t code, const std::string& payload = "") {
    Bytes out{code};
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

// [13, "0", level, nick, "|", password, NUL].
Bytes loginRequest(int level, const std::string& nick, const std::string& password) {
    return datagram(13, "0"s + static_cast<char>(level) + nick + "|" + password + '\0');
}

Bytes withText(Bytes head, const std::string& text) {
    head.insert(head.end(), text.begin(), text.end());
    return head;
}

// A joined game player: its address and key stay known after it is removed.
struct Joined {
    int id = -1;
    sockaddr_in address{};
    std::uint8_t key[16] = {};
};

// A session on fake endpoints with a ban file in a temporary folder; admins talk to it through
// processAdminCommand with exactly sized datagrams, game players join through processCommand.
class AdminTest : public CoreTest {
protected:
    void SetUp() override {
        CoreTest::SetUp();
        ResetWarnList();
        setConf("GameMap", "3");
        setConf("MaxPlayers", "32");
        setConf("GameHour", "12");
        setConf("GameMins", "30");
        setConf("ServerName", "\"Unit Server\"");
        setConf("AdminPassword", kPassword);
        setConf("AdminPlusPassword", kPlusPassword);
        setConf("AdminAllowShutdown", "1");
        Ban::getInstance()->load(m_dir.file("banned.txt").c_str());
        restartSession();
    }
    void TearDown() override {
        m_session.reset();
        delete PlayerList::getInstance();
        delete Ban::getInstance();
        ResetWarnList();
        CoreTest::TearDown();
    }

    // A fresh session (the players leave with the old one) with admin plus enabled.
    void restartSession() {
        m_session.reset();
        m_session = std::make_unique<GameSession>(m_game, m_admin);
        m_session->setAdminPlusEnabled(true);
        clearSent();
    }

    void clearSent() {
        m_game.sent.clear();
        m_admin.sent.clear();
        clearConsole();
    }

    // Hands `d` to the session as the main loop does; the payload buffer holds exactly the
    // bytes after the command byte, so a read past them is caught by the sanitizer.
    void send(const sockaddr_in& from, const Bytes& d) {
        auto copy = std::make_unique<unsigned char[]>(d.size());
        std::memcpy(copy.get(), d.data(), d.size());
        m_session->processAdminCommand(static_cast<signed char>(d[0]), copy.get() + 1, &from,
                                       static_cast<int>(d.size()));
    }

    PlayerList& admins() { return m_session->getAdminList(); }
    PlayerList& players() { return *PlayerList::getInstance(); }

    // Logs in with the right password; returns the admin id (-1 on failure).
    int login(const sockaddr_in& from, const std::string& nick, int level) {
        send(from, loginRequest(level, nick, level == 2 ? kPlusPassword : kPassword));
        return admins().getPlayerID(&from);
    }

    Joined join(int host, const std::string& nick) {
        Joined joined;
        joined.address = loopbackAddress(host, 5000);
        Bytes request = TestClient::joinRequest(nick);
        m_session->processCommand(1, request.data() + 1, &joined.address,
                                  static_cast<int>(request.size()));
        joined.id = players().getPlayerID(&joined.address);
        // A client's first datagram under its own key lets the game reach it.
        const unsigned char confirm[1] = {7};
        m_session->processCommand(7, confirm + 1, &joined.address, 1);
        char raw[20] = {};
        players().getPlainKey(joined.id, raw);
        std::memcpy(joined.key, raw, 16);
        return joined;
    }

    // What the admin endpoint sent to this address and port.
    std::vector<Bytes> adminGot(const sockaddr_in& to) const {
        std::vector<Bytes> out;
        for (const SentDatagram& d : m_admin.sent) {
            if (d.to.sin_addr.s_addr == to.sin_addr.s_addr && d.to.sin_port == to.sin_port)
                out.push_back(d.bytes);
        }
        return out;
    }

    // What the game endpoint sent to the player, opened with its key.
    std::vector<Bytes> playerGot(const Joined& player) const {
        std::vector<Bytes> out;
        for (const SentDatagram& d : m_game.sent) {
            if (d.to.sin_addr.s_addr != player.address.sin_addr.s_addr) continue;
            std::optional<Bytes> opened = TestClient::open(player.key, d.bytes);
            out.push_back(opened ? *opened : Bytes{});
        }
        return out;
    }

    std::string banFile() const { return m_dir.read("banned.txt"); }

    TempDir m_dir;
    FakeEndpoint m_game;
    FakeEndpoint m_admin;
    std::unique_ptr<GameSession> m_session;
    const sockaddr_in m_boss = loopbackAddress(20, 6000);
    const sockaddr_in m_plus = loopbackAddress(21, 6001);
};

using Replies = std::vector<Bytes>;

}  // namespace

TEST_F(AdminTest, LoginRefusalsComeInTheirOrder) {
    ASSERT_EQ(login(m_boss, "Boss", 1), 0);
    Ban::getInstance()->addIP("127.0.0.30");
    clearSent();
    struct Case {
        const char* name;
        sockaddr_in from;
        Bytes request;
        bool adminPlus;
        Bytes reply;
        std::string log;
    };
    const Case cases[] = {
        {"already logged in, other nick and level",
         m_boss,
         loginRequest(2, "Other", kPlusPassword),
         true,
         {6, 2},
         ""},
        {"banned address",
         loopbackAddress(30, 6000),
         loginRequest(1, "Ban", kPassword),
         true,
         {6, 1},
         ""},
        {"banned comes before malformed",
         loopbackAddress(30, 6001),
         datagram(13, "1\x01x|secret\0"s),
         true,
         {6, 1},
         ""},
        {"marker not 0",
         loopbackAddress(31, 6000),
         datagram(13, "1\x01Nick|secret\0"s),
         true,
         {6, 6},
         ""},
        {"level 0",
         loopbackAddress(31, 6000),
         loginRequest(0, "Nick", kPassword),
         true,
         {6, 6},
         ""},
        {"level 3",
         loopbackAddress(31, 6000),
         loginRequest(3, "Nick", kPassword),
         true,
         {6, 6},
         ""},
        {"no level at all", loopbackAddress(31, 6000), datagram(13, "0"), true, {6, 6}, ""},
        {"nick in use in another case comes before admin plus and password",
         loopbackAddress(32, 6000),
         loginRequest(2, "bOSS", "wrong"),
         false,
         {6, 0},
         ""},
        {"admin plus disabled comes before the password",
         loopbackAddress(33, 6000),
         loginRequest(2, "Plus", "wrong"),
         false,
         {6, 11},
         ""},
        // The same address again: attempt 1 shows that the [6, 11] was not counted.
        {"level 1 with the admin plus password",
         loopbackAddress(33, 6000),
         loginRequest(1, "Plus", kPlusPassword),
         true,
         {6, 4},
         "ADMIN-ERROR: Unable to add 'Plus' password is incorrect. Attempt 1.\n"},
        {"level 2 with the admin password",
         loopbackAddress(34, 6000),
         loginRequest(2, "Plus", kPassword),
         true,
         {6, 4},
         "ADMINPLUS-ERROR: Unable to add 'Plus' password is incorrect. Attempt 1.\n"},
        {"password case counts",
         loopbackAddress(35, 6000),
         loginRequest(1, "Nick", "Secret"),
         true,
         {6, 4},
         "ADMIN-ERROR: Unable to add 'Nick' password is incorrect. Attempt 1.\n"},
        {"password is not a prefix",
         loopbackAddress(35, 6001),
         loginRequest(1, "Nick", "secre"),
         true,
         {6, 4},
         "ADMIN-ERROR: Unable to add 'Nick' password is incorrect. Attempt 2.\n"},
        {"14-character nick reads its password from inside the nick",
         loopbackAddress(36, 6000),
         loginRequest(1, "ABCDEFGHIJKLMN", kPassword),
         true,
         {6, 4},
         "ADMIN-ERROR: Unable to add 'ABCDEFGHIJKLM' password is incorrect. Attempt 1.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_session->setAdminPlusEnabled(c.adminPlus);
        send(c.from, c.request);
        EXPECT_EQ(adminGot(c.from), Replies{c.reply});
        EXPECT_EQ(console(), c.log);
        EXPECT_TRUE(m_game.sent.empty());
        clearSent();
    }
    EXPECT_EQ(admins().getPlayerCount(), 1);
}

TEST_F(AdminTest, LoginsThatSucceed) {
    struct Case {
        const char* name;
        sockaddr_in from;
        Bytes request;
        int level;
        std::string nick;
        std::string log;
    };
    const Case cases[] = {
        {"13-character nick", loopbackAddress(40, 6000),
         loginRequest(1, "ABCDEFGHIJKLM", kPassword), 1, "ABCDEFGHIJKLM",
         "ADMIN-JOIN: 'ABCDEFGHIJKLM', ID = 0 (127.0.0.40)\n"},
        {"control characters removed from the nick", loopbackAddress(41, 6000),
         loginRequest(2, "P\x01l\x1Fu\x7Fs\xC3", kPlusPassword), 2, "Plus",
         "ADMINPLUS-JOIN: 'Plus', ID = 1 (127.0.0.41)\n"},
        {"same address, another port", loopbackAddress(41, 6001),
         loginRequest(1, "Third", kPassword), 1, "Third",
         "ADMIN-JOIN: 'Third', ID = 2 (127.0.0.41)\n"},
        {"bytes after the password's NUL do not count", loopbackAddress(42, 6000),
         datagram(13, "0\x01Nick|secret\0junk"s), 1, "Nick",
         "ADMIN-JOIN: 'Nick', ID = 3 (127.0.0.42)\n"},
        {"empty nick", loopbackAddress(43, 6000), loginRequest(1, "", kPassword), 1, "",
         "ADMIN-JOIN: '', ID = 4 (127.0.0.43)\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        send(c.from, c.request);
        int id = admins().getPlayerID(&c.from);
        ASSERT_GE(id, 0);
        char nick[50] = {};
        admins().getPlayerNick(id, nick, sizeof(nick));
        EXPECT_EQ(std::string(nick), c.nick);
        EXPECT_EQ(m_session->getAdminType(id), c.level);
        std::vector<Bytes> replies = adminGot(c.from);
        ASSERT_EQ(replies.size(), 1u);
        EXPECT_EQ(replies[0][0], 1);
        EXPECT_EQ(replies[0][4], id);
        EXPECT_EQ(console(), c.log);
        clearSent();
    }
    EXPECT_EQ(m_session->getAdminType(99), -1);
}

TEST_F(AdminTest, JoinResponseToAnAdminIsPlainAndHasNoKey) {
    Joined ann = join(10, "Ann");
    players().setPlayerScore(ann.id, 3);
    players().setPlayerMoney(ann.id, 500);
    clearSent();
    ASSERT_EQ(login(m_boss, "Boss", 1), 0);
    EXPECT_TRUE(m_game.sent.empty());
    std::vector<Bytes> replies = adminGot(m_boss);
    ASSERT_EQ(replies.size(), 1u);
    const Bytes& r = replies[0];
    ASSERT_EQ(r.size(), 21u + 50u + 255u + 11u);
    const Bytes header = {1,    1,    3,    0,    0,    32,   12,   30,   0,    0x34, 0xA3,
                          0x7F, 0xD3, 0xA4, 0x92, 0xFF, 0xF3, 0x68, 0xA8, 0x24, 0xE9};
    EXPECT_EQ(Bytes(r.begin(), r.begin() + 21), header);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&r[21])), "Unit Server");
    EXPECT_EQ(r[21 + 49], 0);
    const Bytes entry = {0, 3, 0, 0xF4, 0x01, 0, 0, 'A', 'n', 'n', 7};
    EXPECT_EQ(Bytes(r.end() - 11, r.end()), entry);
}

TEST_F(AdminTest, TenthWrongPasswordBansTheAddressWhateverPortNickAndLevel) {
    for (int attempt = 1; attempt <= 9; ++attempt) {
        SCOPED_TRACE(attempt);
        sockaddr_in from = loopbackAddress(50, static_cast<std::uint16_t>(7000 + attempt));
        int level = attempt % 2 == 0 ? 2 : 1;
        std::string nick = "N" + std::to_string(attempt);
        send(from, loginRequest(level, nick, "bad"));
        EXPECT_EQ(adminGot(from), (Replies{{6, 4}}));
        EXPECT_EQ(console(),
                  std::string(level == 2 ? "ADMINPLUS" : "ADMIN") + "-ERROR: Unable to add '" +
                      nick + "' password is incorrect. Attempt " + std::to_string(attempt) + ".\n");
        clearSent();
        // Password checks are rate-limited; these come a little apart, as a person types.
        Clock::advanceMillis(200);
    }
    // Another address counts on its own.
    send(loopbackAddress(51, 7000), loginRequest(1, "Other", "bad"));
    EXPECT_EQ(console(), "ADMIN-ERROR: Unable to add 'Other' password is incorrect. Attempt 1.\n");
    clearSent();
    Clock::advanceMillis(200);

    sockaddr_in tenth = loopbackAddress(50, 7010);
    send(tenth, loginRequest(1, "N10", "bad"));
    EXPECT_EQ(adminGot(tenth), (Replies{{6, 4}}));
    EXPECT_EQ(console(), "BANNED: '127.0.0.50', Too many bad admin password attempts.\n");
    EXPECT_EQ(banFile(), "127.0.0.50\n");
    clearSent();

    sockaddr_in eleventh = loopbackAddress(50, 7011);
    send(eleventh, loginRequest(1, "Good", kPassword));
    EXPECT_EQ(adminGot(eleventh), (Replies{{6, 1}}));
    EXPECT_EQ(admins().getPlayerCount(), 0);
}

TEST_F(AdminTest, PasswordChecksBeyondTenASecondAreDroppedUnanswered) {
    for (int attempt = 1; attempt <= 10; ++attempt) {
        send(loopbackAddress(70, static_cast<std::uint16_t>(attempt)), loginRequest(1, "X", "bad"));
    }
    clearSent();
    clearConsole();
    sockaddr_in late = loopbackAddress(71, 1);
    send(late, loginRequest(1, "Late", kPassword));
    EXPECT_EQ(adminGot(late), Replies{}) << "no answer, not even to the right password";
    EXPECT_EQ(console(), "");
    EXPECT_EQ(admins().getPlayerCount(), 0);
    Clock::advanceMillis(100);
    send(late, loginRequest(1, "Late", kPassword));
    EXPECT_EQ(admins().getPlayerCount(), 1) << "one check comes back every tenth of a second";
}

TEST_F(AdminTest, FullWarnListEvictsTheOldestAddressThatIsNotBanned) {
    ResetWarnList(2);
    const sockaddr_in a = loopbackAddress(60, 1);
    const sockaddr_in b = loopbackAddress(61, 1);
    const sockaddr_in c = loopbackAddress(62, 1);
    for (int attempt = 1; attempt <= 9; ++attempt) {
        ASSERT_EQ(AddToWarnList("127.0.0.60", &a), attempt);
    }
    EXPECT_EQ(AddToWarnList("127.0.0.61", &b), 1);
    // The list is full: a tracked address still counts to its tenth.
    EXPECT_EQ(AddToWarnList("127.0.0.60", &a), kWarnListBanned);
    EXPECT_EQ(banFile(), "127.0.0.60\n");

    EXPECT_EQ(AddToWarnList("127.0.0.62", &c), 1);  // evicts b, the banned a stays
    EXPECT_EQ(WarnListSize(), 2u);
    EXPECT_EQ(AddToWarnList("127.0.0.61", &b), 1);  // b starts over and evicts c
    EXPECT_EQ(AddToWarnList("127.0.0.61", &b), 2);
    EXPECT_EQ(WarnListSize(), 2u);

    // a was kept with its count: after an unban its next wrong password bans it again.
    ASSERT_TRUE(Ban::getInstance()->removeIP("127.0.0.60"));
    EXPECT_EQ(AddToWarnList("127.0.0.60", &a), kWarnListBanned);
    EXPECT_TRUE(Ban::getInstance()->isBanned("127.0.0.60"));

    ResetWarnList(1);
    EXPECT_EQ(AddToWarnList("127.0.0.61", &b), 1);
    EXPECT_EQ(AddToWarnList("127.0.0.62", &c), 1);
    EXPECT_EQ(WarnListSize(), 1u);
}

TEST(AdminRules, ReadAdminLogin) {
    struct Case {
        const char* name;
        std::string payload;
        bool wellFormed;
        int level;
        std::string nick;
        std::string password;
    };
    const Case cases[] = {
        {"plain",
         "0\x01"
         "Boss|pw\0"s,
         true, 1, "Boss", "pw"},
        {"level 2",
         "0\x02"
         "Boss|pw\0"s,
         true, 2, "Boss", "pw"},
        {"password ends at the first NUL",
         "0\x01"
         "Boss|pw\0rest\0"s,
         true, 1, "Boss", "pw"},
        {"password ends at the datagram's end",
         "0\x01"
         "Boss|pw"s,
         true, 1, "Boss", "pw"},
        {"cut right after the bar",
         "0\x01"
         "Boss|"s,
         true, 1, "Boss", ""},
        {"no bar",
         "0\x01"
         "Boss"s,
         true, 1, "Boss", ""},
        {"bar right away", "0\x01|pw\0"s, true, 1, "", "pw"},
        {"control and high bytes skipped and not counted",
         "0\x01\x01"
         "ABCDEFG\x1F\x80HIJKLM|pw\0"s,
         true, 1, "ABCDEFGHIJKLM", "pw"},
        {"the scan stops after 13 kept characters",
         "0\x01"
         "ABCDEFGHIJKLMN|pw\0"s,
         true, 1, "ABCDEFGHIJKLM", "|pw"},
        {"marker not 0",
         "1\x01"
         "Boss|pw\0"s,
         false, 1, "Boss", "pw"},
        {"level 3",
         "0\x03"
         "Boss|pw\0"s,
         false, 3, "Boss", "pw"},
        {"one byte", "0"s, false, 0, "", ""},
        {"empty", ""s, false, 0, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Exactly sized, so that a read past the payload is caught by the sanitizer.
        auto buffer = std::make_unique<unsigned char[]>(c.payload.size());
        std::memcpy(buffer.get(), c.payload.data(), c.payload.size());
        AdminLogin login = readAdminLogin(buffer.get(), c.payload.size());
        EXPECT_EQ(login.wellFormed, c.wellFormed);
        if (!c.payload.empty()) {
            EXPECT_EQ(login.level, c.level);
        }
        EXPECT_EQ(login.nick, c.nick);
        EXPECT_EQ(login.password, c.password);
    }
}

TEST(AdminRules, FilterBanAddressAndReadText) {
    struct Case {
        std::string payload;
        std::string kept;
    };
    const Case cases[] = {
        {"1.2.3.4x5\0"s, "1.2.3.45"},
        {"abc\0"s, ""},
        {"1.2.3\0"s, ""},
        {"1.2.34\0"s, ""},        // 6 characters
        {"1.2.3.4"s, "1.2.3.4"},  // 7, no NUL
        {"1.2.3.4\0"
         "5"s,
         "1.2.3.4"},                     // up to the first NUL
        {" 10.0. 0.1 \0"s, "10.0.0.1"},  // spaces dropped
        {"123.123.123.123.4567"
         "89"s,
         "123.123.123.123.4567"},         // only 20 bytes count
        {"xxxxxxxxxxxxxxx1.2.3.4"s, ""},  // 5 digits and dots in 20 bytes
        {""s, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.payload);
        const auto* bytes = reinterpret_cast<const unsigned char*>(c.payload.data());
        EXPECT_EQ(filterBanAddress(bytes, c.payload.size()), c.kept);
    }

    const auto* text = reinterpret_cast<const unsigned char*>("abc\0def");
    EXPECT_EQ(readText(text, 7, 32), "abc");
    EXPECT_EQ(readText(text, 2, 32), "ab");
    EXPECT_EQ(readText(text, 7, 1), "a");
    EXPECT_EQ(readText(text + 3, 4, 32), "");
    EXPECT_EQ(readText(text, 0, 32), "");
}

TEST_F(AdminTest, SecondShutdownRequestWithinFourSecondsStopsTheServer) {
    struct Case {
        const char* name;
        std::vector<int> atMillis;
        Bytes replies;  // the r of each [18, r]
    };
    const Case cases[] = {
        {"at 0 s and 3 s", {0, 3000}, {1, 3}},
        {"four whole seconds still count", {0, 4999}, {1, 3}},
        {"five are too late", {0, 5000}, {1, 2}},
        {"0 s, 10 s and 12 s", {0, 10000, 12000}, {1, 2, 3}},
        {"every late request restarts the window", {0, 5000, 10000, 15000}, {1, 2, 2, 2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        restartSession();
        Clock::pin(kPinnedWall, 0);
        ASSERT_EQ(login(m_boss, "Boss", 1), 0);
        ASSERT_EQ(login(m_plus, "Helper", 2), 1);
        clearSent();
        std::string expectedLog;
        for (std::size_t i = 0; i < c.atMillis.size(); ++i) {
            Clock::advanceMillis(c.atMillis[i] - (i == 0 ? 0 : c.atMillis[i - 1]));
            // The window belongs to the server: the two admins take turns.
            const sockaddr_in& from = i % 2 == 0 ? m_boss : m_plus;
            const std::string nick = i % 2 == 0 ? "Boss" : "Helper";
            send(from, Bytes{18});
            EXPECT_EQ(adminGot(from), Replies{Bytes({18, c.replies[i]})}) << i;
            m_admin.sent.clear();
            if (c.replies[i] == 1)
                expectedLog +=
                    "ADMIN-KILLSERVER: First Attempt was received from '" + nick + "'.\n";
            if (c.replies[i] == 2)
                expectedLog +=
                    "ADMIN-KILLSERVER: Too late on Second Attempt ... updating First Attempt.\n";
            if (c.replies[i] == 3)
                expectedLog += "ADMIN-KILLSERVER: Second Attempt was received from '" + nick +
                               "' .... Killing Server.\n";
        }
        EXPECT_EQ(m_session->killServer(), c.replies.back() == 3);
        EXPECT_EQ(console(), expectedLog);
    }
}

TEST_F(AdminTest, RemoteShutdownCanBeDisabled) {
    for (const char* value : {"0", "2"}) {
        SCOPED_TRACE(value);
        setConf("AdminAllowShutdown", value);
        restartSession();
        ASSERT_EQ(login(m_boss, "Boss", 1), 0);
        clearSent();
        send(m_boss, Bytes{18});
        send(m_boss, Bytes{18});
        EXPECT_EQ(adminGot(m_boss), (Replies{{18, 4}, {18, 4}}));
        EXPECT_EQ(console(),
                  "ADMIN-KILLSERVER: Remote Shutdown has been disabled.\n"
                  "ADMIN-KILLSERVER: Remote Shutdown has been disabled.\n");
        EXPECT_FALSE(m_session->killServer());
    }
}

TEST_F(AdminTest, BroadcastCommandsReachEveryPlayerThenEveryAdmin) {
    Joined ann = join(10, "Ann");
    Joined bob = join(11, "Bob");
    players().setPlayerScore(ann.id, 5);
    players().setPlayerScore(bob.id, -2);
    players().setPlayerMoney(ann.id, 500);
    ASSERT_EQ(login(m_boss, "Boss", 1), 0);
    ASSERT_EQ(login(m_plus, "Plus", 2), 1);
    clearSent();
    struct Case {
        Bytes request;
        Bytes packet;
        std::string log;
    };
    const Case cases[] = {
        {{30}, {30}, "RESET-SCORES: Requested by Admin Boss\n"},
        {{34}, {34}, "RESET-MONEY: Requested by Admin Boss\n"},
        {{38, 1, 2, 3, 4, 9}, {38, 1, 2, 3, 4}, "ADD-MONEY: Requested by Admin Boss\n"},
        {{38, 0xFF, 0xFF, 0xFF, 0xFF},
         {38, 0xFF, 0xFF, 0xFF, 0xFF},
         "ADD-MONEY: Requested by Admin Boss\n"},
        {{31, 23, 59},
         {31, 23, 59},
         "CHANGE-TIME: Game Time Changed, Hour = '23', Minute = '59' By Admin Boss\n"},
        {{31, 0, 0},
         {31, 0, 0},
         "CHANGE-TIME: Game Time Changed, Hour = '0', Minute = '0' By Admin Boss\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.request[0]));
        send(m_boss, c.request);
        EXPECT_EQ(playerGot(ann), Replies{c.packet});
        EXPECT_EQ(playerGot(bob), Replies{c.packet});
        EXPECT_EQ(adminGot(m_boss), Replies{c.packet});
        EXPECT_EQ(adminGot(m_plus), Replies{c.packet});
        EXPECT_EQ(console(), c.log);
        clearSent();
    }
    EXPECT_EQ(players().getPlayerScore(ann.id), 0);
    EXPECT_EQ(players().getPlayerScore(bob.id), 0);
    EXPECT_EQ(players().getPlayerMoney(ann.id), 500) << "the server keeps its money values";
    EXPECT_EQ(m_session->getGameHour(), 0);
    EXPECT_EQ(m_session->getGameMins(), 0);
}

TEST_F(AdminTest, RequestsOutOfRangeOrTooShortAreIgnored) {
    Joined ann = join(10, "Ann");
    ASSERT_EQ(login(m_boss, "Boss", 1), 0);
    send(m_boss, Bytes{31, 23, 59});
    clearSent();
    const Bytes cases[] = {
        {31, 24, 0}, {31, 0, 60}, {31, 0xFF, 0}, {31, 0, 0x80}, {31, 5}, {31},    {35, 4},
        {35, 0xFF},  {35},        {38, 1, 2, 3}, {38},          {14, 7}, {15, 7}, {14},
        {15},        {29, 7},     {29},          {99},          {1},     {4},     {0xC8},
    };
    for (const Bytes& request : cases) {
        SCOPED_TRACE(testing::PrintToString(request));
        send(m_boss, request);
        EXPECT_TRUE(m_admin.sent.empty());
        EXPECT_TRUE(m_game.sent.empty());
        EXPECT_EQ(console(), "");
        EXPECT_EQ(m_session->getGameHour(), 23);
        EXPECT_EQ(m_session->getGameMins(), 59);
        EXPECT_EQ(m_session->getWeather(), 0);
        EXPECT_EQ(m_session->getWeatherHold(), 0);
        EXPECT_TRUE(players().doesPlayerExist(ann.id));
        clearSent();
    }
    EXPECT_EQ(banFile(), "");
}

TEST_F(AdminTest, WeatherWithRandomWeatherOffIsStoredSilently) {
    Joined ann = join(10, "Ann");
    ASSERT_EQ(login(m_boss, "Boss", 1), 0);
    clearSent();
    send(m_boss, Bytes{35, 2});
    EXPECT_EQ(m_session->getWeather(), 2);
    EXPECT_EQ(m_session->getWeatherHold(), 120);
    EXPECT_TRUE(m_admin.sent.empty());
    EXPECT_TRUE(m_game.sent.empty());
    EXPECT_EQ(console(), "");
    EXPECT_TRUE(players().doesPlayerExist(ann.id));
}

TEST_F(AdminTest, WeatherWithRandomWeatherOnIsLoggedAndSent) {
    setConf("RandomWeather", "1");
    restartSession();
    Joined ann = join(10, "Ann");
    ASSERT_EQ(login(m_boss, "Boss", 1), 0);
    ASSERT_EQ(login(m_plus, "Plus", 2), 1);
    const char* names[] = {"Sun", "Cloud", "Rain", "Fog"};
    for (std::uint8_t weather : {3, 0, 1, 2}) {
        SCOPED_TRACE(names[weather]);
        m_session->setWeatherHold(7);
        clearSent();
        send(m_boss, Bytes{35, weather});
        EXPECT_EQ(m_session->getWeather(), weather);
        EXPECT_EQ(m_session->getWeatherHold(), 120);
        const Bytes packet{35, weather};
        EXPECT_EQ(playerGot(ann), Replies{packet});
        EXPECT_EQ(adminGot(m_boss), Replies{packet});
        EXPECT_EQ(adminGot(m_plus), Replies{packet});
        EXPECT_EQ(console(), "CHANGE-WEATHER: Weather Changed, Type = '" +
                                 std::string(names[weather]) + "' By Admin Boss\n");
    }
}

TEST_F(AdminTest, KickAndBanRemoveThePlayerAndTellEveryone) {
    struct Case {
        std::uint8_t code;
        std::uint8_t reason;
        std::string log;
        std::string banFile;
    };
    const Case cases[] = {
        {14, 3, "KICKED: 'Bob', PlayerID = 1 by Admin Boss\n", ""},
        {15, 1, "BANNED: 'Bob', PlayerID = 1 by Admin Boss\n", "127.0.0.11\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.code));
        restartSession();
        Joined ann = join(10, "Ann");
        Joined bob = join(11, "Bob");
        Joined cid = join(12, "Cid");
        ASSERT_EQ(bob.id, 1);
        ASSERT_EQ(login(m_boss, "Boss", 1), 0);
        ASSERT_EQ(login(m_plus, "Plus", 2), 1);
        clearSent();

        send(m_boss, Bytes{c.code, 1});
        EXPECT_FALSE(players().doesPlayerExist(bob.id));
        EXPECT_EQ(playerGot(bob), Replies{Bytes({6, c.reason})});
        const Bytes left{9, 1, 1};
        EXPECT_EQ(playerGot(ann), Replies{left});
        EXPECT_EQ(playerGot(cid), Replies{left});
        EXPECT_EQ(adminGot(m_boss), Replies{left});
        EXPECT_EQ(adminGot(m_plus), Replies{left});
        EXPECT_EQ(console(), c.log);
        EXPECT_EQ(banFile(), c.banFile);
        clearSent();

        // The id is gone now: the same request does nothing.
        send(m_boss, Bytes{c.code, 1});
        EXPECT_TRUE(m_game.sent.empty());
        EXPECT_TRUE(m_admin.sent.empty());
        EXPECT_EQ(console(), "");
    }
}

TEST_F(AdminTest, UnbanRemovesOnlyAnExactEntryOfAtMost31Characters) {
    const std::string entry31 = "1111111111.2222222222.333333333";
    const std::string entry32 = "1111111111.2222222222.3333333333";
    ASSERT_EQ(entry31.size(), 31u);
    m_dir.write("banned.txt", "1.2.3.4\n10.0.0.0\n" + entry31 + "\n" + entry32 + "\na\tb\n");
    ASSERT_EQ(Ban::getInstance()->load(m_dir.file("banned.txt").c_str()), Ban::LoadResult::Loaded);
    ASSERT_EQ(login(m_boss, "Boss", 1), 0);
    clearSent();
    struct Case {
        std::string payload;
        int result;
        std::string log;
    };
    const Case cases[] = {
        {"1.2.3.4\0"s, 1, "UNBANNED: '1.2.3.4', by Admin Boss\n"},
        {"1.2.3.4\0"s, 0, ""},
        {"10.0.0.5\0"s, 0, ""},  // banned only through the wildcard entry
        {entry31 + "9\0"s, 1, "UNBANNED: '" + entry31 + "', by Admin Boss\n"},
        {entry32 + '\0', 0, ""},  // read as its first 31 characters
        {"a\tb"s, 1, "UNBANNED: 'a\\x09b', by Admin Boss\n"},
        {"\0"s, 0, ""},
        {""s, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.payload);
        send(m_boss, datagram(16, c.payload));
        EXPECT_EQ(adminGot(m_boss), Replies{Bytes({16, static_cast<std::uint8_t>(c.result)})});
        EXPECT_EQ(console(), c.log);
        clearSent();
    }
    EXPECT_EQ(banFile(), "10.0.0.0\n" + entry32 + "\n");
}

TEST_F(AdminTest, BanAddressKeepsDigitsAndDotsOfTheFirstTwentyBytes) {
    Joined ann = join(10, "Ann");
    ASSERT_EQ(login(m_boss, "Boss", 1), 0);
    clearSent();
    struct Case {
        std::string payload;
        int result;
        std::string log;
    };
    const Case cases[] = {
        {"1.2.3.4x5\0"s, 1, "BANNED: '1.2.3.45', by Admin Boss\n"},
        {"abc\0"s, 0, ""},
        {"1.2.34\0"s, 0, ""},
        {""s, 0, ""},
        {"127.0.0.10"s, 1, "BANNED: '127.0.0.10', by Admin Boss\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.payload);
        send(m_boss, datagram(28, c.payload));
        EXPECT_EQ(adminGot(m_boss), Replies{Bytes({28, static_cast<std::uint8_t>(c.result)})});
        EXPECT_EQ(console(), c.log);
        clearSent();
    }
    EXPECT_EQ(banFile(), "1.2.3.45\n127.0.0.10\n");
    EXPECT_TRUE(players().doesPlayerExist(ann.id)) << "a connected player stays";
    EXPECT_TRUE(m_game.sent.empty());
}

TEST_F(AdminTest, BanListReplyListsEntriesAndStopsBeforeTheFirstThatDoesNotFit) {
    ASSERT_EQ(login(m_boss, "Boss", 1), 0);
    // 68 entries of 14 characters take 1020 bytes with their bars.
    std::string lines;
    std::string listed;
    for (int i = 0; i < 68; ++i) {
        char entry[16];
        std::snprintf(entry, sizeof(entry), "10.100.100.%03d", i);
        lines += std::string(entry) + "\n";
        listed += std::string(entry) + "|";
    }
    struct Case {
        const char* name;
        std::string file;
        std::string text;
    };
    const Case cases[] = {
        {"empty list", "", ""},
        {"two entries", "1.2.3.4\n10.0.0.0\n", "1.2.3.4|10.0.0.0|"},
        {"exactly 1023 bytes", lines + "ab\nz\n", listed + "ab|"},
        // "abcd|" does not fit; "z|" would, but the list is cut before "abcd".
        {"cut after the last whole entry that fits", lines + "abcd\nz\n", listed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_dir.write("banned.txt", c.file);
        ASSERT_EQ(Ban::getInstance()->load(m_dir.file("banned.txt").c_str()),
                  Ban::LoadResult::Loaded);
        clearSent();
        send(m_boss, Bytes{17});
        EXPECT_EQ(adminGot(m_boss), Replies{withText({17}, c.text)});
    }
}

TEST_F(AdminTest, SetServerPasswordNeedsTheKeyAndAText) {
    ASSERT_EQ(login(m_boss, "Boss", 1), 0);
    clearSent();
    send(m_boss, datagram(27, "new\0"s));
    EXPECT_EQ(adminGot(m_boss), (Replies{{27, 0}})) << "no ServerPassword key";
    EXPECT_EQ(Conf::getInstance()->getConfEntryValue("ServerPassword"), nullptr);
    EXPECT_EQ(console(), "");

    setConf("ServerPassword", "old");
    struct Case {
        std::string payload;
        int result;
        std::string stored;
    };
    const Case cases[] = {
        {"new\0"s, 1, "new"},     {"\0"s, 0, "new"},
        {""s, 0, "new"},          {"nul\0after"s, 1, "nul"},
        {"no-nul"s, 1, "no-nul"}, {std::string(40, 'p'), 1, std::string(32, 'p')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.payload);
        clearSent();
        send(m_boss, datagram(27, c.payload));
        EXPECT_EQ(adminGot(m_boss), Replies{Bytes({27, static_cast<std::uint8_t>(c.result)})});
        EXPECT_STREQ(Conf::getInstance()->getConfEntryValue("ServerPassword"), c.stored.c_str());
        EXPECT_EQ(console(),
                  c.result == 1 ? "PASSWORD: The Server Password was successfully changed.\n" : "");
    }
}

TEST_F(AdminTest, PlayerAddressIsDottedTextWithoutNul) {
    join(10, "Ann");
    Joined bob = join(11, "Bob");
    ASSERT_EQ(login(m_boss, "Boss", 1), 0);
    clearSent();
    send(m_boss, Bytes{29, static_cast<std::uint8_t>(bob.id)});
    EXPECT_EQ(adminGot(m_boss), Replies{withText({29, 1}, "127.0.0.11")});
    EXPECT_TRUE(m_game.sent.empty());
    EXPECT_EQ(console(), "");
}

TEST_F(AdminTest, ReloadMessageOfTheDay) {
    WorkingDirectory cwd(m_dir.path());
    ASSERT_TRUE(cwd.changed());
    ASSERT_EQ(login(m_boss, "Boss", 1), 0);
    clearSent();

    send(m_boss, Bytes{26});
    EXPECT_EQ(adminGot(m_boss), (Replies{{26, 0}}));
    EXPECT_EQ(console(), "ERROR: 'motd.txt' could not be opened for reading.\n");
    EXPECT_FALSE(m_session->isMotdLoaded());
    clearSent();

    m_dir.write("motd.txt", "Welcome!!\n");  // 10 bytes, 9 characters of text
    send(m_boss, Bytes{26});
    EXPECT_EQ(adminGot(m_boss), (Replies{{26, 1}}));
    EXPECT_EQ(console(), "");
    EXPECT_TRUE(m_session->isMotdLoaded());
    EXPECT_STREQ(m_session->getMotdText(), "Welcome!!");
    Joined ann = join(10, "Ann");
    std::vector<Bytes> got = playerGot(ann);
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got.back(), withText({21}, "Welcome!!"s + '\0'));
    clearSent();

    std::remove(m_dir.file("motd.txt").c_str());
    send(m_boss, Bytes{26});
    EXPECT_EQ(adminGot(m_boss), (Replies{{26, 0}}));
    EXPECT_TRUE(m_session->isMotdLoaded());
    EXPECT_STREQ(m_session->getMotdText(), "Welcome!!");
}

TEST_F(AdminTest, SaveMessageOfTheDayWritesTheTextBytesThenReloads) {
    WorkingDirectory cwd(m_dir.path());
    ASSERT_TRUE(cwd.changed());
    ASSERT_EQ(login(m_boss, "Boss", 1), 0);
    clearSent();
    struct Case {
        const char* name;
        std::string payload;
        std::string file;
        std::string message;
    };
    const Case cases[] = {
        {"text and NUL", "\x01\x02\x03\x04New text\0"s, "New text", "New text"},
        {"no NUL", "\0\0\0\0abc"s, "abc", "abc"},
        {"up to the first NUL", "\0\0\0\0Hi\0junk\0"s, "Hi", "Hi"},
        {"line end kept in the file", "\0\0\0\0Line\r\n\0"s, "Line\r\n", "Line"},
        {"no text", "\0\0\0\0"s, "", ""},
        {"field cut short", "\x01\x02"s, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_dir.write("motd.txt", std::string(50, 'o'));
        send(m_boss, datagram(40, c.payload));
        EXPECT_EQ(adminGot(m_boss), (Replies{{40, 1}, {26, 1}}));
        EXPECT_EQ(m_dir.read("motd.txt"), c.file);
        EXPECT_STREQ(m_session->getMotdText(), c.message.c_str());
        EXPECT_EQ(console(), "Admin: Saved new motd to motd.txt.\n");
        clearSent();
    }
}

TEST_F(AdminTest, FailedSaveOfMessageOfTheDayLeavesTheOldFile) {
    WorkingDirectory cwd(m_dir.path());
    ASSERT_TRUE(cwd.changed());
    m_dir.write("motd.txt", "Old\n");
    // The replacement is written beside the file first; a folder in its way makes it fail.
    ASSERT_EQ(mkdir(m_dir.file("motd.txt.tmp").c_str(), 0755), 0);
    ASSERT_EQ(login(m_boss, "Boss", 1), 0);
    clearSent();
    send(m_boss, datagram(40, "\0\0\0\0New\0"s));
    EXPECT_EQ(adminGot(m_boss), (Replies{{40, 0}, {26, 1}}));
    EXPECT_EQ(m_dir.read("motd.txt"), "Old\n");
    EXPECT_STREQ(m_session->getMotdText(), "Old");
    EXPECT_EQ(console(), "Admin: Could not save new motd to motd.txt.\n");
    rmdir(m_dir.file("motd.txt.tmp").c_str());
}

TEST_F(AdminTest, AdminChatIsBroadcastToPlayersAndAdmins) {
    Joined ann = join(10, "Ann");
    Joined bob = join(11, "Bob");
    ASSERT_EQ(login(m_boss, "Boss", 1), 0);
    ASSERT_EQ(login(m_plus, "Plus", 2), 1);
    clearSent();
    struct Case {
        const char* name;
        std::string payload;  // type byte, text, NUL
        std::string text;     // what is broadcast; empty: nothing is
        std::string log;
    };
    const Case cases[] = {
        {"ordinary chat", "\x05hello all\0"s, "hello all", "***> Boss: hello all\n"},
        {"colour codes and control bytes filtered, the log escaped",
         "\x05\x02"
         "FF000hi\x01 there\xE9\0"s,
         "hi there", "***> Boss: \\x02FF000hi\\x01 there\\xE9\n"},
        {"/me", "\x05/me waves\0"s, "/me waves", "***> Boss: /me waves\n"},
        {"/slap", "\x05/slap Bob\0"s, "/slap Bob", "***> Boss: /slap Bob\n"},
        {"other commands vanish", "\x05/kick 3\0"s, "", ""},
        {"/me without its space", "\x05/me\0"s, "", ""},
        {"nothing printable", "\x05\x01\x1F\0"s, "", ""},
        {"only 129 bytes count", "\x05"s + std::string(200, 'a') + '\0', std::string(126, 'a'),
         "***> Boss: " + std::string(127, 'a') + "\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        send(m_boss, datagram(3, c.payload));
        Replies expected;
        if (!c.text.empty()) expected.push_back(withText({3, 0, 5}, c.text + '\0'));
        EXPECT_EQ(playerGot(ann), expected);
        EXPECT_EQ(playerGot(bob), expected);
        EXPECT_EQ(adminGot(m_boss), expected) << "the sender gets its copy";
        EXPECT_EQ(adminGot(m_plus), expected);
        EXPECT_EQ(console(), c.log);
        clearSent();
    }
}

TEST_F(AdminTest, AdminPrivateMessagesGoToTheirTargetsAndEchoToTheSender) {
    Joined ann = join(10, "Ann");
    Joined bob = join(11, "Bob");
    Joined cid = join(12, "Cid");
    Joined dan = join(13, "Dan");
    ASSERT_EQ(dan.id, 3);
    ASSERT_EQ(login(m_boss, "Boss", 1), 0);
    ASSERT_EQ(login(m_plus, "Plus", 2), 1);
    clearSent();
    struct Case {
        std::string text;
        std::vector<const Joined*> targets;
        std::string message;  // empty: no echo
        bool logged;
    };
    const Case cases[] = {
        {"/msg #3,BOB hello", {&bob, &dan}, "hello", true},
        {"/msg #99 hi", {}, "hi", false},
        {"/msg #1,nobody hi", {&bob}, "hi", false},
        {"/msg cid,#0 two words", {&ann, &cid}, "two words", true},
        {"/msg bob", {}, "", false},
        {"/msg  hi", {}, "hi", false},  // an empty target list
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        send(m_boss, datagram(3, "\x07" + c.text + '\0'));
        const Bytes forTarget = withText({3, 0, 7}, "/msg " + c.message + '\0');
        for (const Joined* player : {&ann, &bob, &cid, &dan}) {
            bool targeted = false;
            for (const Joined* t : c.targets) targeted = targeted || t == player;
            EXPECT_EQ(playerGot(*player), targeted ? Replies{forTarget} : Replies{})
                << "player " << player->id;
        }
        Replies echo;
        if (!c.message.empty()) echo.push_back(withText({3, 0, 7}, "/msgr " + c.message + '\0'));
        EXPECT_EQ(adminGot(m_boss), echo);
        EXPECT_TRUE(adminGot(m_plus).empty());
        EXPECT_EQ(console(), c.logged ? "***> Boss: " + c.text + "\n" : "");
        clearSent();
    }
}

TEST_F(AdminTest, ChatIsNotLoggedWhenTheSettingSaysSo) {
    setConf("DoNotOutputChatToLog", "1");
    restartSession();
    Joined ann = join(10, "Ann");
    ASSERT_EQ(login(m_boss, "Boss", 1), 0);
    clearSent();
    send(m_boss, datagram(3, "\x05hello\0"s));
    send(m_boss, datagram(3, "\x05/msg ann psst\0"s));
    EXPECT_EQ(playerGot(ann), (Replies{withText({3, 0, 5}, "hello"s + '\0'),
                                       withText({3, 0, 5}, "/msg psst"s + '\0')}));
    EXPECT_EQ(console(), "");
}

TEST_F(AdminTest, QuitLogsTheLevelAndEndsTheSession) {
    ASSERT_EQ(login(m_boss, "Boss", 1), 0);
    ASSERT_EQ(login(m_plus, "Plus", 2), 1);
    clearSent();
    send(m_plus, Bytes{2});
    EXPECT_EQ(console(), "ADMINPLUS-QUIT: 'Plus', ID = 1\n");
    EXPECT_EQ(m_session->getAdminType(1), -1);
    send(m_plus, Bytes{17});  // no longer an admin
    send(m_boss, Bytes{2, 'x'});
    EXPECT_EQ(console(), "ADMINPLUS-QUIT: 'Plus', ID = 1\nADMIN-QUIT: 'Boss', ID = 0\n");
    EXPECT_EQ(admins().getPlayerCount(), 0);
    EXPECT_TRUE(m_admin.sent.empty());
    EXPECT_TRUE(m_game.sent.empty());
}

TEST_F(AdminTest, AnyDatagramFromAnAdminResetsItsTimeout) {
    int boss = login(m_boss, "Boss", 1);
    ASSERT_EQ(boss, 0);
    clearSent();
    for (const Bytes& request : {Bytes{5}, Bytes{5, 1, 2, 3}, Bytes{99}, Bytes{31, 24, 0}}) {
        SCOPED_TRACE(testing::PrintToString(request));
        admins().updatePlayerTimeout(boss, 10);
        send(loopbackAddress(20, 6001), request);  // another port is someone else
        EXPECT_EQ(admins().getPlayerTimeout(boss), 10);
        send(m_boss, request);
        EXPECT_EQ(admins().getPlayerTimeout(boss), 0);
    }
    EXPECT_TRUE(m_admin.sent.empty());
    EXPECT_EQ(console(), "");
}

TEST_F(AdminTest, DatagramsFromSendersThatAreNotLoggedInAreIgnored) {
    WorkingDirectory cwd(m_dir.path());
    ASSERT_TRUE(cwd.changed());
    Joined ann = join(10, "Ann");
    ASSERT_EQ(login(m_boss, "Boss", 1), 0);
    Ban::getInstance()->addIP("9.9.9.9");
    clearSent();
    const Bytes cases[] = {
        {2},
        withText({3, 5}, "hello"s + '\0'),
        {5},
        {14, 0},
        {15, 0},
        withText({16}, "9.9.9.9"s + '\0'),
        {17},
        {18},
        {26},
        withText({27}, "pw"s + '\0'),
        withText({28}, "1.2.3.4"s + '\0'),
        {29, 0},
        {30},
        {31, 1, 1},
        {34},
        {35, 1},
        {38, 1, 2, 3, 4},
        withText({40, 0, 0, 0, 0}, "motd"s + '\0'),
    };
    // The same address as the admin, from another port.
    const sockaddr_in stranger = loopbackAddress(20, 6001);
    for (const Bytes& request : cases) {
        SCOPED_TRACE(testing::PrintToString(request));
        send(stranger, request);
        EXPECT_TRUE(m_admin.sent.empty());
        EXPECT_TRUE(m_game.sent.empty());
        EXPECT_EQ(console(), "");
    }
    EXPECT_TRUE(players().doesPlayerExist(ann.id));
    EXPECT_EQ(m_session->getGameHour(), 12);
    EXPECT_EQ(m_session->getWeather(), 0);
    EXPECT_FALSE(m_session->killServer());
    EXPECT_FALSE(m_session->isMotdLoaded());
    EXPECT_EQ(banFile(), "9.9.9.9\n");
    EXPECT_EQ(admins().getPlayerCount(), 1);
}
