#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "UnitSupport.h"
#include "admin/Ban.h"
#include "game/GameSession.h"
#include "game/PlayerList.h"
#include "game/VehicleList.h"
#include "support/FakeEndpoint.h"
#include "support/TestClient.h"

namespace {

using Packets = std::vector<Bytes>;
using Lines = std::vector<std::string>;

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

Bytes text(const std::string& characters) { return Bytes(characters.begin(), characters.end()); }

Bytes u32Bytes(std::uint32_t value) {
    return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
            static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
}

Bytes xyz(float x, float y, float z) {
    Bytes out;
    for (float value : {x, y, z}) {
        std::uint32_t bits = 0;
        std::memcpy(&bits, &value, sizeof(bits));
        out = cat({out, u32Bytes(bits)});
    }
    return out;
}

const Bytes kHeading = {0x11, 0x22, 0x33, 0x44};

// On foot at (x, y, 7) with stateByteA 5 and stateByteB (GTA:VC: stateByteE) 1. Its first 20
// bytes are the GTA3 compact form, so a full relay is told from a compact one by the last two.
Bytes onFoot(float x, float y) { return cat({{0}, kHeading, {1}, xyz(x, y, 7), {2, 5, 3, 1}}); }

// Driving `vehicle` at (x, y, 3) with the client type's vehicle-position tag, then a field the
// compact form leaves out.
Bytes driving(int vehicle, float x, float y, std::uint8_t positionTag) {
    return cat(
        {{static_cast<std::uint8_t>(vehicle)}, kHeading, {positionTag}, xyz(x, y, 3), {2, 9}});
}

Bytes report(const Bytes& record) { return cat({{10}, record}); }

Bytes relay(int id, const Bytes& record) {
    return cat({{10, static_cast<std::uint8_t>(id)}, record});
}

Bytes chat(std::uint8_t type, const std::string& line) { return cat({{3, type}, text(line), {0}}); }

// A chat line as the server sends it: [3, id, type, text, 0].
Bytes chatLine(int id, std::uint8_t type, const std::string& line) {
    return cat({{3, static_cast<std::uint8_t>(id), type}, text(line), {0}});
}

Bytes withU32(std::uint8_t code, std::uint32_t value) { return cat({{code}, u32Bytes(value)}); }

// A ping reply from `id` whose check passes, or fails when `offset` is not 0.
Bytes pingReply(int id, const std::string& nick, std::uint8_t b, std::uint32_t offset = 0) {
    std::uint32_t value = TestClient::kCheckValue - static_cast<std::uint32_t>(id) +
                          static_cast<std::uint32_t>(nick.size()) - b + offset;
    return cat({{5, b}, u32Bytes(value)});
}

// A session on fake endpoints, fed decrypted datagrams the way the main loop feeds them. Every
// player joins through the session from an address of its own.
class GameSessionRelayTest : public CoreTest {
protected:
    void SetUp() override {
        CoreTest::SetUp();
        setConf("MaxPlayers", "32");
        setConf("GameHour", "12");
        setConf("GameMins", "30");
        startSession(3);
    }
    void TearDown() override {
        m_session.reset();
        delete PlayerList::getInstance();
        delete VehicleList::getInstance();
        delete Ban::getInstance();
        CoreTest::TearDown();
    }

    // A fresh session on `map` with nobody joined. The session reads Testmode and StatLogging
    // when it is built, so tests set them first.
    void startSession(int map) {
        m_session.reset();
        setConf("GameMap", std::to_string(map));
        m_game = std::make_unique<FakeEndpoint>();
        m_admin = std::make_unique<FakeEndpoint>();
        m_session = std::make_unique<GameSession>(*m_game, *m_admin);
        clearSent();
    }

    int join(const std::string& nick) {
        sockaddr_in from = loopbackAddress(m_nextHost++, 5000);
        deliver(from, TestClient::joinRequest(nick));
        int id = players().getPlayerID(&from);
        // A client's first datagram under its own key lets the game reach it.
        if (id >= 0) deliver(from, Bytes{7});
        if (id >= 0) {
            m_addresses[id] = from;
            players().getPlainKey(id, reinterpret_cast<char*>(m_keys[id].data()));
        }
        return id;
    }

    // Joins the players in order (ids 0, 1, ...) and forgets what the joins sent.
    void joinAll(const Lines& nicks) {
        for (const std::string& nick : nicks) ASSERT_GE(join(nick), 0) << nick;
        clearSent();
    }

    sockaddr_in addAdmin(int level) {
        sockaddr_in address = loopbackAddress(m_nextHost++, 4003);
        m_session->getAdminList().addPlayer(&address, "Adm", level);
        return address;
    }

    void deliver(const sockaddr_in& from, const Bytes& datagram) {
        m_session->processCommand(datagram[0], datagram.data() + 1, &from,
                                  static_cast<int>(datagram.size()));
    }
    void send(int id, const Bytes& datagram) { deliver(m_addresses[id], datagram); }

    // What was sent to player `id`'s address, opened with its key (kept after it leaves).
    Packets sentTo(int id) {
        Packets out;
        const sockaddr_in& to = m_addresses[id];
        for (const SentDatagram& d : m_game->sent) {
            if (!sameAddress(d.to, to)) continue;
            std::optional<Bytes> opened = TestClient::open(m_keys[id].data(), d.bytes);
            out.push_back(opened ? *opened : Bytes{});
        }
        return out;
    }
    Packets sentToAdmin(const sockaddr_in& admin) {
        Packets out;
        for (const SentDatagram& d : m_admin->sent) {
            if (sameAddress(d.to, admin)) out.push_back(d.bytes);
        }
        return out;
    }
    bool nothingSent() const { return m_game->sent.empty() && m_admin->sent.empty(); }

    void clearSent() {
        m_game->sent.clear();
        m_admin->sent.clear();
        clearConsole();
    }

    static PlayerList& players() { return *PlayerList::getInstance(); }
    // The record of a joined player.
    static Player& record(int id) { return players().getPlayerMap().find(id)->second; }

    void openLogFile() {
        ASSERT_TRUE(Log::getInstance()->openLogForWriting(m_dir.file("server.log").c_str()));
    }
    // The log file's lines that start with one of `prefixes`, without their time prefix.
    Lines logLines(const Lines& prefixes) const {
        Lines out;
        for (const std::string& line : strippedLines(m_dir.read("server.log"))) {
            for (const std::string& prefix : prefixes) {
                if (line.compare(0, prefix.size(), prefix) == 0) out.push_back(line);
            }
        }
        return out;
    }

    std::unique_ptr<FakeEndpoint> m_game;
    std::unique_ptr<FakeEndpoint> m_admin;
    std::unique_ptr<GameSession> m_session;

private:
    static bool sameAddress(const sockaddr_in& a, const sockaddr_in& b) {
        return a.sin_addr.s_addr == b.sin_addr.s_addr && a.sin_port == b.sin_port;
    }

    TempDir m_dir;
    int m_nextHost = 10;
    std::map<int, sockaddr_in> m_addresses;
    std::map<int, std::array<std::uint8_t, 16>> m_keys;
};

}  // namespace

// Fan-out.

TEST_F(GameSessionRelayTest, BroadcastDataSkipsTheExceptedPlayerAndCopiesToAdminsOnRequest) {
    joinAll({"Ann", "Bob", "Cy"});
    sockaddr_in admin = addAdmin(1);
    const Bytes packet = {30, 1, 2};
    struct Case {
        const char* name;
        int exceptId;
        bool toAdmins;
        std::vector<int> reached;
    };
    const Case cases[] = {
        {"everyone", -1, true, {0, 1, 2}},
        {"all but one", 1, true, {0, 2}},
        {"no admin copy", -1, false, {0, 1, 2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        clearSent();
        m_session->broadcastData(packet.data(), static_cast<int>(packet.size()), c.exceptId,
                                 c.toAdmins);
        for (int id = 0; id < 3; ++id) {
            bool reached = std::find(c.reached.begin(), c.reached.end(), id) != c.reached.end();
            EXPECT_EQ(sentTo(id), reached ? Packets{packet} : Packets{}) << "player " << id;
        }
        EXPECT_EQ(sentToAdmin(admin), c.toAdmins ? Packets{packet} : Packets{});
    }
}

// Player-state reports.

TEST_F(GameSessionRelayTest, OnFootReportReachesEveryOtherPlayerInFullWhateverTheDistance) {
    joinAll({"Ann", "Bob", "Cy"});
    send(1, report(onFoot(5000, 0)));
    send(2, report(onFoot(10, 0)));
    clearSent();

    const Bytes record = onFoot(0, 0);
    send(0, report(record));
    EXPECT_EQ(sentTo(1), Packets{relay(0, record)});
    EXPECT_EQ(sentTo(2), Packets{relay(0, record)});
    EXPECT_EQ(sentTo(0), Packets{});
}

TEST_F(GameSessionRelayTest, PlayersOutOfSightOfAVehicleGetTheCompactForm) {
    joinAll({"Ann", "Bob", "Cy", "Dee"});
    // Ann stood next to Bob, but her vehicle is where the distance is measured.
    send(0, report(onFoot(1000, 10)));
    send(1, report(onFoot(1000, 0)));
    send(2, report(onFoot(100, 0)));
    clearSent();

    const Bytes driver = driving(5, 0, 0, 14);
    send(0, report(driver));
    EXPECT_EQ(sentTo(1), Packets{cat({{10, 0, 5}, kHeading, {14}, xyz(0, 0, 3)})});
    EXPECT_EQ(sentTo(2), Packets{relay(0, driver)});

    // A passenger is measured at its vehicle and compacts to its selector alone.
    clearSent();
    const Bytes passenger = {105, 2, 9};
    send(3, report(passenger));
    EXPECT_EQ(sentTo(1), (Packets{{10, 3, 105}}));
    EXPECT_EQ(sentTo(2), Packets{relay(3, passenger)});
    EXPECT_EQ(sentTo(0), Packets{relay(3, passenger)});
    EXPECT_EQ(sentTo(3), Packets{});
}

TEST_F(GameSessionRelayTest, TestmodeEchoesEveryReportInFull) {
    setConf("Testmode", "1");
    startSession(3);
    joinAll({"Ann", "Bob"});
    send(1, report(onFoot(1000, 0)));
    clearSent();

    const Bytes driver = driving(5, 0, 0, 14);
    send(0, report(driver));
    EXPECT_EQ(sentTo(0), Packets{relay(0, driver)});
    EXPECT_EQ(sentTo(1), Packets{relay(0, driver)});
}

TEST_F(GameSessionRelayTest, OnlyAdminsOfLevelTwoGetTheCompactFormUnencrypted) {
    // On foot the compact form is 22 (GTA3) or 24 (GTA:VC) bytes; admins get its first 20.
    struct Case {
        int map;
        std::uint8_t vehicleTag;
    };
    const Case cases[] = {{3, 14}, {1, 13}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.map);
        startSession(c.map);
        joinAll({"Ann", "Bob"});
        sockaddr_in admin = addAdmin(1);
        sockaddr_in adminPlus = addAdmin(2);

        send(0, report(onFoot(0, 0)));
        send(0, report(driving(5, 50, 0, c.vehicleTag)));
        const Packets expected = {
            cat({{10, 0, 0}, kHeading, {1}, xyz(0, 0, 7)}),
            cat({{10, 0, 5}, kHeading, {c.vehicleTag}, xyz(50, 0, 3)}),
        };
        EXPECT_EQ(sentToAdmin(adminPlus), expected);
        EXPECT_EQ(sentToAdmin(admin), Packets{});
    }
}

TEST_F(GameSessionRelayTest, LargestReportRelaysOneByteMore) {
    joinAll({"Ann", "Bob"});
    Bytes datagram(1024, 0xEE);
    datagram[0] = 10;
    datagram[1] = 0;
    datagram.back() = 0x5A;
    send(0, datagram);
    Packets got = sentTo(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].size(), 1025u);
    EXPECT_EQ(got[0], cat({{10, 0}, Bytes(datagram.begin() + 1, datagram.end())}));
}

TEST_F(GameSessionRelayTest, StatisticsWriteEachNewVehicleToTheLogFileOnly) {
    setConf("StatLogging", "1");
    startSession(3);
    openLogFile();
    ASSERT_EQ(join("Ann"), 0);
    // Nobody to relay to: nothing is written.
    send(0, report(onFoot(0, 0)));
    EXPECT_EQ(logLines({"Veh: "}), Lines{});

    ASSERT_EQ(join("Bob"), 1);
    send(0, report(onFoot(0, 0)));
    send(0, report(onFoot(5, 0)));
    send(0, report(driving(5, 0, 0, 14)));
    send(0, report({230}));
    EXPECT_EQ(logLines({"Veh: "}), (Lines{"Veh: 0 0", "Veh: 0 5", "Veh: 0 -26"}));
    EXPECT_EQ(console().find("Veh: "), std::string::npos);

    // A newcomer given a freed id writes its first line again.
    send(0, {2});
    ASSERT_EQ(join("Cy"), 0);
    send(0, report({230}));
    EXPECT_EQ(logLines({"Veh: "}), (Lines{"Veh: 0 0", "Veh: 0 5", "Veh: 0 -26", "Veh: 0 -26"}));
}

TEST_F(GameSessionRelayTest, WeaponIsTheByteAfterTag29OnTheParsersWalk) {
    setConf("StatLogging", "1");
    startSession(3);
    openLogFile();
    joinAll({"Ann", "Bob"});
    Bytes pairs;
    for (int i = 0; i < 6; ++i) pairs = cat({pairs, {29, 9}});
    struct Case {
        const char* name;
        Bytes record;
        Lines lines;
    };
    const Case cases[] = {
        {"weapon after tag 29", cat({{0}, kHeading, {29, 7}}), {"Wea: 0 7"}},
        {"the same weapon again", cat({{0}, kHeading, {29, 7}}), {}},
        {"29 inside a position is no tag", cat({{0}, kHeading, {1}, pairs, {29, 3}}), {"Wea: 0 3"}},
        {"tag 16 carries one byte", cat({{0}, kHeading, {16, 29, 29, 8}}), {"Wea: 0 8"}},
        {"a passenger's tags follow its selector", {105, 29, 4}, {"Wea: 0 4"}},
        {"a final tag 29 has no weapon", cat({{0}, kHeading, {2, 5, 29}}), {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::size_t before = logLines({"Wea: "}).size();
        send(0, report(c.record));
        Lines all = logLines({"Wea: "});
        EXPECT_EQ(Lines(all.begin() + static_cast<long>(before), all.end()), c.lines);
    }
    EXPECT_EQ(console().find("Wea: "), std::string::npos);
}

// Chat.

TEST_F(GameSessionRelayTest, ChatIsCleanedLoggedAndRelayedToAllWithAdminCopy) {
    joinAll({"Ann", "Bob"});
    sockaddr_in admin = addAdmin(1);
    send(1, cat({{3, 1}, text("Hi"), {0x02}, text("RRGGB you"), {0x01, 0x80, 0}}));
    const Packets expected = {chatLine(1, 1, "Hi you")};
    EXPECT_EQ(sentTo(0), expected);
    EXPECT_EQ(sentTo(1), expected);
    EXPECT_EQ(sentToAdmin(admin), expected);
    EXPECT_EQ(console(), "---> Bob: Hi you\n");
    EXPECT_EQ(record(1).chatFloodCount, 1);
}

TEST_F(GameSessionRelayTest, SlashLinesOtherThanMeAndSlapAreDroppedWithoutTrace) {
    joinAll({"Ann", "Bob"});
    addAdmin(1);
    struct Case {
        std::string line;
        bool relayed;
    };
    const Case cases[] = {
        {"/me waves", true}, {"/slap Bob", true}, {"/kick Bob", false},
        {"/meow", false},    {"/slapBob", false}, {"/", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        clearSent();
        int flood = record(0).chatFloodCount;
        send(0, chat(0, c.line));
        if (c.relayed) {
            EXPECT_EQ(sentTo(1), Packets{chatLine(0, 0, c.line)});
            EXPECT_EQ(console(), "---> Ann: " + c.line + "\n");
            EXPECT_EQ(record(0).chatFloodCount, flood + 1);
        } else {
            EXPECT_TRUE(nothingSent());
            EXPECT_EQ(console(), "");
            EXPECT_EQ(record(0).chatFloodCount, flood);
        }
    }
}

TEST_F(GameSessionRelayTest, RepeatedLineIsRelayedOnce) {
    joinAll({"Ann", "Bob"});
    send(0, chat(0, "gg"));
    send(0, chat(0, "gg"));
    send(0, chat(0, "GG"));
    EXPECT_EQ(sentTo(1), (Packets{chatLine(0, 0, "gg"), chatLine(0, 0, "GG")}));
    EXPECT_EQ(record(0).chatFloodCount, 2);
}

TEST_F(GameSessionRelayTest, DeadPlayerChatsWithTypeFourUntilItReportsAgain) {
    joinAll({"Ann", "Bob"});
    send(0, cat({{37}, xyz(1, 2, 3)}));
    EXPECT_TRUE(nothingSent());
    EXPECT_TRUE(players().getPlayerDead(0));
    EXPECT_EQ(record(0).gameState.position[0], 1.0f);
    EXPECT_EQ(record(0).gameState.position[1], 2.0f);
    EXPECT_EQ(record(0).gameState.heading, 0u);

    send(0, chat(1, "ouch"));
    EXPECT_EQ(sentTo(1), Packets{chatLine(0, 4, "ouch")});

    send(0, report(onFoot(0, 0)));
    clearSent();
    send(0, chat(1, "back"));
    EXPECT_EQ(sentTo(1), Packets{chatLine(0, 1, "back")});
}

TEST_F(GameSessionRelayTest, ChatOfTypeThreeIsLoggedOnly) {
    joinAll({"Ann", "Bob"});
    addAdmin(1);
    send(0, chat(3, "note"));
    EXPECT_TRUE(nothingSent());
    EXPECT_EQ(console(), "---> Ann: note\n");
    EXPECT_EQ(record(0).chatFloodCount, 0);
}

TEST_F(GameSessionRelayTest, PrivateMessageRecipients) {
    joinAll({"Ann", "Bob", "Cy", "Dee", "Eve"});
    sockaddr_in admin = addAdmin(1);
    struct Case {
        const char* name;
        std::string line;
        std::vector<int> reached;
        bool logged;
    };
    const Case cases[] = {
        {"nick in any case and number", "/msg bOB,#2 one", {1, 2}, true},
        {"at most three recipients", "/msg #1,#2,#3,#4 two", {1, 2, 3}, true},
        {"letter after the hash", "/msg #a2 three", {}, false},
        {"number that would wrap", "/msg #4294967297 four", {}, false},
        {"number of nobody", "/msg #7 five", {}, false},
        {"unknown nick", "/msg Zed six", {}, false},
        {"logged only when the last recipient is reached", "/msg Bob,Zed seven", {1}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        clearSent();
        int flood = record(0).chatFloodCount;
        send(0, chat(0, c.line));
        const std::string message = c.line.substr(c.line.find(' ', 5) + 1);
        for (int id = 1; id < 5; ++id) {
            bool reached = std::find(c.reached.begin(), c.reached.end(), id) != c.reached.end();
            EXPECT_EQ(sentTo(id), reached ? Packets{chatLine(0, 0, "/msg " + message)} : Packets{})
                << "player " << id;
        }
        EXPECT_EQ(sentTo(0), Packets{chatLine(0, 0, "/msgr " + message)});
        EXPECT_EQ(sentToAdmin(admin), Packets{chatLine(0, 0, c.line)});
        EXPECT_EQ(console(), c.logged ? "---> Ann: " + c.line + "\n" : "");
        EXPECT_EQ(record(0).chatFloodCount, flood + 1);
    }
}

TEST_F(GameSessionRelayTest, PrivateMessageWithoutNewTextReachesNoRecipient) {
    joinAll({"Ann", "Bob"});
    sockaddr_in admin = addAdmin(1);
    send(0, chat(0, "/msg Bob"));
    EXPECT_EQ(sentTo(0), Packets{});
    EXPECT_EQ(sentTo(1), Packets{});
    EXPECT_EQ(sentToAdmin(admin), Packets{chatLine(0, 0, "/msg Bob")});
    EXPECT_EQ(record(0).chatFloodCount, 1);

    // A repeated text is echoed again but not delivered again.
    clearSent();
    send(0, chat(0, "/msg Bob hey"));
    send(0, chat(0, "/msg Bob hey"));
    EXPECT_EQ(sentTo(0), Packets(2, chatLine(0, 0, "/msgr hey")));
    EXPECT_EQ(sentTo(1), Packets{chatLine(0, 0, "/msg hey")});
    EXPECT_EQ(record(0).chatFloodCount, 3);
}

// Deaths, scores and money.

TEST_F(GameSessionRelayTest, DeathReportsAndTheKillersScore) {
    setConf("StatLogging", "1");
    startSession(3);
    openLogFile();
    joinAll({"Ann", "Bob"});
    sockaddr_in admin = addAdmin(1);
    struct Case {
        const char* name;
        Bytes death;
        Packets broadcast;
        short annScore;
        short bobScore;
    };
    const Case cases[] = {
        {"no killer", {11, 100, 3}, {{11, 1, 100}}, 0, 0},
        {"killed by Ann", {11, 0, 5}, {{11, 1, 0, 5, 0, 0, 0}, {12, 0, 1, 0}}, 1, 0},
        {"weapon 16 names no killer",
         {11, 0, 16},
         {{11, 1, 0xFF, 16, 0, 0, 0}, {12, 0, 2, 0}},
         2,
         0},
        {"suicide", {11, 1, 0}, {{11, 1, 1, 0, 0, 0, 0}, {12, 1, 0xFF, 0xFF}}, 2, -1},
        {"killer not in the game", {11, 9, 4}, {{11, 1, 9, 4, 0, 0, 0}}, 2, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        players().resetPlayerDeathCountPerSecond(1);
        clearSent();
        send(1, c.death);
        EXPECT_EQ(sentTo(0), c.broadcast);
        EXPECT_EQ(sentTo(1), c.broadcast);
        EXPECT_EQ(sentToAdmin(admin), c.broadcast);
        EXPECT_EQ(players().getPlayerScore(0), c.annScore);
        EXPECT_EQ(players().getPlayerScore(1), c.bobScore);
    }
    EXPECT_EQ(logLines({"Kill: ", "Death: "}), (Lines{"Kill: 0 1 5", "Death: 1 5", "Kill: 0 1 16",
                                                      "Death: 1 16", "Kill: 1 1 0", "Death: 1 0"}));
    EXPECT_EQ(console().find("Kill: "), std::string::npos);
}

TEST_F(GameSessionRelayTest, ThirdDeathInOneSecondIsIgnored) {
    joinAll({"Ann", "Bob"});
    for (int i = 0; i < 3; ++i) send(1, {11, 0, 5});
    EXPECT_EQ(
        sentTo(0),
        (Packets{{11, 1, 0, 5, 0, 0, 0}, {12, 0, 1, 0}, {11, 1, 0, 5, 0, 0, 0}, {12, 0, 2, 0}}));
    EXPECT_EQ(players().getPlayerScore(0), 2);
}

TEST_F(GameSessionRelayTest, ViceCityWeapon16KeepsTheKiller) {
    startSession(1);
    joinAll({"Ann", "Bob"});
    send(1, {11, 0, 16});
    EXPECT_EQ(sentTo(0), (Packets{{11, 1, 0, 16, 0, 0, 0}, {12, 0, 1, 0}}));
}

TEST_F(GameSessionRelayTest, ScoreOnlyOnTheStuntMapAndMoneyOnlyOnLibertyCity) {
    const Bytes score = withU32(12, 0x0001FFFE);
    const Bytes money = withU32(36, 0xFFFFFFFB);
    struct Case {
        int map;
        Bytes datagram;
        Packets broadcast;
    };
    const Case cases[] = {
        {2, score, {{12, 0, 0xFE, 0xFF, 0, 0}}},       {1, score, {}}, {3, score, {}},
        {3, money, {{36, 0, 0xFB, 0xFF, 0xFF, 0xFF}}}, {1, money, {}}, {2, money, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("map " + std::to_string(c.map) + " code " + std::to_string(c.datagram[0]));
        startSession(c.map);
        joinAll({"Ann", "Bob"});
        sockaddr_in admin = addAdmin(1);
        send(0, c.datagram);
        EXPECT_EQ(sentTo(0), c.broadcast);
        EXPECT_EQ(sentTo(1), c.broadcast);
        EXPECT_EQ(sentToAdmin(admin), c.broadcast);
        bool applied = !c.broadcast.empty();
        EXPECT_EQ(players().getPlayerScore(0), applied && c.datagram[0] == 12 ? -2 : 0);
        EXPECT_EQ(players().getPlayerMoney(0), applied && c.datagram[0] == 36 ? -5 : 0);
    }
}

// Removals.

TEST_F(GameSessionRelayTest, TrainerReportRemovesThePlayer) {
    joinAll({"Ann", "Bob", "Cy"});
    sockaddr_in admin = addAdmin(1);
    send(1, {19});
    EXPECT_FALSE(players().doesPlayerExist(1));
    const Packets notice = {{9, 4, 1}};
    EXPECT_EQ(sentTo(0), notice);
    EXPECT_EQ(sentTo(2), notice);
    EXPECT_EQ(sentToAdmin(admin), notice);
    EXPECT_EQ(sentTo(1), Packets{});
    EXPECT_EQ(console(), "QUIT: 'Bob', PlayerID = 1 ... client quit due to trainer usage\n");
}

TEST_F(GameSessionRelayTest, ClientCheckReplyResetsRequestsOrRemovesThePlayer) {
    joinAll({"Ann", "Bob", "Cy"});
    sockaddr_in admin = addAdmin(1);
    record(1).outstandingCrcRequests = 2;
    send(1, withU32(25, TestClient::kCheckValue));
    EXPECT_EQ(record(1).outstandingCrcRequests, 0);
    EXPECT_TRUE(nothingSent());

    send(1, withU32(25, TestClient::kCheckValue + 1));
    EXPECT_FALSE(players().doesPlayerExist(1));
    EXPECT_EQ(sentTo(1), (Packets{{6, 8}}));
    EXPECT_EQ(sentTo(0), (Packets{{9, 5, 1}}));
    EXPECT_EQ(sentTo(2), (Packets{{9, 5, 1}}));
    EXPECT_EQ(sentToAdmin(admin), (Packets{{9, 5, 1}}));
    EXPECT_EQ(console(), "QUIT: 'Bob', PlayerID = 1 ... quit due to client crc mismatch.\n");
}

// Ping.

TEST_F(GameSessionRelayTest, PingRequestIsAnsweredToTheSenderOnly) {
    joinAll({"Ann", "Bob"});
    addAdmin(2);
    send(1, {4});
    EXPECT_EQ(sentTo(1), (Packets{{5}}));
    EXPECT_EQ(sentTo(0), Packets{});
    EXPECT_TRUE(m_admin->sent.empty());
}

TEST_F(GameSessionRelayTest, PingReplyThatPassesReportsTheMeanPingToEveryone) {
    joinAll({"Ann", "Bob"});
    sockaddr_in admin = addAdmin(1);
    sockaddr_in adminPlus = addAdmin(2);
    struct Case {
        std::uint16_t ping;
        std::uint16_t previousPing;
        Bytes report;
    };
    const Case cases[] = {
        {10, 31, {22, 1, 20, 0}},
        {3000, 0, {22, 1, 0xE8, 0x03}},
        {65000, 1000, {22, 1, 0xE8, 0x03}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ping);
        record(1).ping = c.ping;
        record(1).previousPing = c.previousPing;
        record(1).newPingStamp = 0;
        clearSent();
        // The check reads the byte unsigned.
        send(1, pingReply(1, "Bob", 0xF0));
        EXPECT_EQ(sentTo(0), Packets{c.report});
        EXPECT_EQ(sentTo(1), Packets{c.report});
        EXPECT_EQ(sentToAdmin(admin), Packets{c.report});
        EXPECT_EQ(sentToAdmin(adminPlus), Packets{c.report});
        EXPECT_EQ(record(1).newPingStamp, static_cast<std::uint16_t>(kPinnedWall * 1000 % 65536));
    }
}

TEST_F(GameSessionRelayTest, PingReplyThatFailsRemovesThePlayer) {
    struct Case {
        bool listen;
        const char* line;
    };
    const Case cases[] = {
        {false, "QUIT: 'Bob', PlayerID = 1 ... quit due to client crc mismatch.\n"},
        {true, "Bob quit due to crc missmatch.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        Log::getInstance()->setListenMode(c.listen);
        startSession(3);
        joinAll({"Ann", "Bob", "Cy"});
        sockaddr_in admin = addAdmin(1);
        send(1, pingReply(1, "Bob", 0, 1));
        EXPECT_FALSE(players().doesPlayerExist(1));
        EXPECT_EQ(sentTo(1), (Packets{{6, 8}}));
        EXPECT_EQ(sentTo(0), (Packets{{9, 5, 1}}));
        EXPECT_EQ(sentTo(2), (Packets{{9, 5, 1}}));
        EXPECT_EQ(sentToAdmin(admin), (Packets{{9, 5, 1}}));
        EXPECT_EQ(console(), c.line);
    }
}

// Queries, skins and the game mode.

TEST_F(GameSessionRelayTest, NickQueryAnswersTheSenderAboutJoinedPlayersOnly) {
    joinAll({"Ann", "Bob"});
    addAdmin(2);
    send(0, {20, 1});
    send(0, {20, 7});
    send(0, {20, 0xFF});
    EXPECT_EQ(sentTo(0), (Packets{{20, 1, 'B', 'o', 'b'}}));
    EXPECT_EQ(sentTo(1), Packets{});
    EXPECT_TRUE(m_admin->sent.empty());
}

TEST_F(GameSessionRelayTest, SkinChangeGoesToOthersAndQueryAnswersTheStoredSkin) {
    joinAll({"Ann", "Bob"});
    addAdmin(1);
    send(0, {23, 0xFE});
    EXPECT_EQ(players().getPlayerSkin(0), -2);
    EXPECT_EQ(sentTo(1), (Packets{{23, 0, 0xFE}}));
    EXPECT_EQ(sentTo(0), Packets{});
    EXPECT_TRUE(m_admin->sent.empty());

    clearSent();
    send(1, {24, 0});
    send(1, {24, 9});
    EXPECT_EQ(sentTo(1), (Packets{{23, 0, 0xFE}, {23, 9, 0}}));
    EXPECT_EQ(sentTo(0), Packets{});

    setConf("Testmode", "1");
    startSession(3);
    joinAll({"Ann", "Bob"});
    send(0, {23, 7});
    EXPECT_EQ(sentTo(0), (Packets{{23, 0, 7}}));
    EXPECT_EQ(sentTo(1), (Packets{{23, 0, 7}}));
}

TEST_F(GameSessionRelayTest, GameModeChangeGoesToOthersAndQueryAnswersIt) {
    joinAll({"Ann", "Bob", "Cy"});
    addAdmin(1);
    send(0, {42, 0xFB});
    EXPECT_EQ(sentTo(1), (Packets{{41, 0xFB}}));
    EXPECT_EQ(sentTo(2), (Packets{{41, 0xFB}}));
    EXPECT_EQ(sentTo(0), Packets{});
    EXPECT_TRUE(m_admin->sent.empty());
    EXPECT_EQ(console(), "GameMode was changed to -5 by Ann\n");

    clearSent();
    send(2, {41});
    EXPECT_EQ(sentTo(2), (Packets{{41, 0xFB}}));
    EXPECT_EQ(sentTo(0), Packets{});
}

TEST_F(GameSessionRelayTest, DatagramsTooShortForTheirFieldsAreIgnored) {
    struct Case {
        int map;
        Bytes datagram;
    };
    const Case cases[] = {
        {3, {3}},
        {3, {5, 0xF0, 1, 2, 3}},
        {3, {10}},
        {3, {11, 0}},
        {2, {12, 1, 2, 3}},
        {3, {20}},
        {3, {23}},
        {3, {24}},
        {3, {25, 0xE9, 0xC3, 0x17}},
        {3, {36, 1, 2, 3}},
        {3, cat({{37}, Bytes(11, 0x41)})},
        {3, {42}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("code " + std::to_string(c.datagram[0]));
        startSession(c.map);
        joinAll({"Ann", "Bob"});
        addAdmin(2);
        // A state report would mark a dead player alive, a death position the living dead.
        bool dead = c.datagram[0] == 10;
        players().setPlayerDead(1, dead);
        send(1, c.datagram);
        EXPECT_TRUE(nothingSent());
        EXPECT_EQ(console(), "");
        ASSERT_TRUE(players().doesPlayerExist(1));
        EXPECT_EQ(players().getPlayerDead(1), dead);
        EXPECT_EQ(players().getPlayerDeathCountPerSecond(1), 0u);
        EXPECT_EQ(players().getPlayerScore(1), 0);
        EXPECT_EQ(players().getPlayerMoney(1), 0);
        EXPECT_EQ(players().getPlayerSkin(1), 0);
        EXPECT_EQ(record(1).gameState.position[0], 0.0f);
        send(1, {41});
        EXPECT_EQ(sentTo(1), (Packets{{41, 0}}));
    }
}
