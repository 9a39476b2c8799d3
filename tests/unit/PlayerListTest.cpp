#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "core/Random.h"
#include "game/PlayerList.h"
#include "net/CRijndael.h"

namespace {

sockaddr_in makeAddress(const char* ip, std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    inet_pton(AF_INET, ip, &address.sin_addr);
    return address;
}

bool fillZeros(void* out, std::size_t n) {
    std::memset(out, 0x00, n);
    return true;
}

bool fillOnes(void* out, std::size_t n) {
    std::memset(out, 0xFF, n);
    return true;
}

// Every byte value in turn, so each key byte sees a different draw.
bool fillCounting(void* out, std::size_t n) {
    auto* bytes = static_cast<unsigned char*>(out);
    for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<unsigned char>(i * 37 + 11);
    return true;
}

bool fillNothing(void*, std::size_t) { return false; }

// Each test starts from a fresh game players' table and the operating system's random source.
class PlayerListTest : public ::testing::Test {
protected:
    void SetUp() override { delete PlayerList::getInstance(); }
    void TearDown() override {
        Random::setSourceForTesting(nullptr);
        delete PlayerList::getInstance();
    }

    static PlayerList& table() { return *PlayerList::getInstance(); }

    static int add(const char* nick, const char* ip = "10.0.0.1", std::uint16_t port = 5000,
                   int adminLevel = 0) {
        sockaddr_in address = makeAddress(ip, port);
        return table().addPlayer(&address, nick, adminLevel);
    }

    static std::string nickOf(int id) {
        char buffer[50] = {};
        return table().getPlayerNick(id, buffer, sizeof(buffer));
    }
};

}  // namespace

TEST_F(PlayerListTest, NewIdIsTheSmallestFreeNumber) {
    EXPECT_EQ(table().getNewPlayerID(), 0);
    for (const char* nick : {"a", "b", "c", "d"}) add(nick);
    table().removePlayer(2);
    EXPECT_EQ(table().getNewPlayerID(), 2);
    EXPECT_EQ(add("e"), 2);
    EXPECT_EQ(table().getNewPlayerID(), 4);
    EXPECT_EQ(add("f"), 4);

    table().removeAllPlayers();
    EXPECT_EQ(table().getPlayerCount(), 0);
    EXPECT_EQ(add("g"), 0);
}

TEST_F(PlayerListTest, AddedRecordStartsFresh) {
    sockaddr_in address = makeAddress("192.168.100.200", 4321);
    int id = table().addPlayer(&address, "Admin", 2);
    ASSERT_EQ(id, 0);

    const Player& player = table().getPlayerMap()[id];
    EXPECT_EQ(std::memcmp(&player.address, &address, sizeof(address)), 0);
    EXPECT_STREQ(player.addressText, "192.168.100.200");
    EXPECT_TRUE(player.connected);
    EXPECT_STREQ(player.nick, "Admin");
    EXPECT_EQ(player.adminLevel, 2);
    EXPECT_EQ(table().getClientType(id), 2);
    EXPECT_EQ(player.timeout, 0);
    EXPECT_EQ(player.score, 0);
    EXPECT_EQ(player.money, 0);
    EXPECT_TRUE(player.lastChat.empty());
    EXPECT_FALSE(player.dead);
    EXPECT_TRUE(player.uniqueCipher.isKeyed());
    EXPECT_EQ(table().getPlayerConnectedCount(), 1);
}

TEST_F(PlayerListTest, NickIsCutToThirteenCharacters) {
    add("ThirteenChars");  // the longest admin nick fits whole
    add("FourteenChars!AndThenSomeMore");
    EXPECT_EQ(nickOf(0), "ThirteenChars");
    EXPECT_EQ(nickOf(1), "FourteenChars");
}

TEST_F(PlayerListTest, AddressLookupNeedsAddressAndPortAndPrefersHighestId) {
    add("a", "10.0.0.1", 5000);
    add("b", "10.0.0.2", 5000);
    add("c", "10.0.0.1", 5000);

    sockaddr_in same = makeAddress("10.0.0.1", 5000);
    sockaddr_in otherPort = makeAddress("10.0.0.1", 5001);
    sockaddr_in otherHost = makeAddress("10.0.0.3", 5000);
    EXPECT_EQ(table().getPlayerID(&same), 2);
    EXPECT_EQ(table().getPlayerID(&otherPort), -1);
    EXPECT_EQ(table().getPlayerID(&otherHost), -1);
    EXPECT_EQ(table().getPlayerID(static_cast<const sockaddr_in*>(nullptr)), -1);

    table().removePlayer(2);
    EXPECT_EQ(table().getPlayerID(&same), 0);
}

TEST_F(PlayerListTest, NickLookupIgnoresCaseAndTakesLowestId) {
    add("bob");
    add("Alice");
    add("BOB");
    EXPECT_EQ(table().getPlayerID("BOB"), 0);
    EXPECT_EQ(table().getPlayerID("alice"), 1);
    EXPECT_EQ(table().getPlayerID("bo"), -1);
    EXPECT_EQ(table().getPlayerID("bobby"), -1);
    EXPECT_EQ(table().getPlayerID(static_cast<const char*>(nullptr)), -1);

    table().getPlayerMap()[0].connected = false;
    EXPECT_EQ(table().getPlayerID("bob"), 2);
}

TEST_F(PlayerListTest, ChatRepetitionIsExactAndRemembersOnlyNewLines) {
    add("a");
    add("b");
    EXPECT_FALSE(table().isChatRepeated(0, "hello"));
    EXPECT_TRUE(table().isChatRepeated(0, "hello"));
    EXPECT_FALSE(table().isChatRepeated(0, "Hello"));
    EXPECT_FALSE(table().isChatRepeated(0, "hello"));
    EXPECT_FALSE(table().isChatRepeated(1, "hello"));  // each player has its own last line

    table().resetChatFloodLastChatForPlayer(0);
    EXPECT_FALSE(table().isChatRepeated(0, "hello"));

    add("c");
    EXPECT_TRUE(table().isChatRepeated(2, ""));  // a new player's last line is empty
    EXPECT_FALSE(table().isChatRepeated(7, "hello"));
}

TEST_F(PlayerListTest, NickIsCopiedOnlyWhenShorterThanSizeMinusOne) {
    add("abcd");
    struct Case {
        int id;
        int size;
        const char* expected;
    } cases[] = {
        {0, 5, "zzzzzz"}, {0, 6, "abcd"}, {0, 0, "zzzzzz"}, {0, -1, "zzzzzz"}, {3, 50, "zzzzzz"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "id " << c.id << " size " << c.size);
        char buffer[8] = "zzzzzz";
        EXPECT_EQ(table().getPlayerNick(c.id, buffer, c.size), buffer);
        EXPECT_STREQ(buffer, c.expected);
    }
}

TEST_F(PlayerListTest, PingIsStampDifferenceModulo65536) {
    add("a");
    table().storeOldPingStamp(0, 65500);
    table().storeNewPingStamp(0, 36);
    EXPECT_EQ(table().getPlayerPing(0), 72);
    table().storeOldPingStamp(0, 1000);
    table().storeNewPingStamp(0, 1250);
    EXPECT_EQ(table().getPlayerPing(0), 250);
}

TEST_F(PlayerListTest, CountersChangeOnlyTheNamedPlayer) {
    add("a");
    add("b");
    table().incrementPlayerDeathCountPerSecond(1);
    table().incrementPlayerDeathCountPerSecond(1);
    table().incrementChatFloodCountForPlayer(1);
    table().updatePlayerTimeout(1, 9);
    table().setPlayerScore(1, -3);
    table().setPlayerMoney(1, 70000);
    table().setPlayerDead(1, true);
    table().getPlayerMap()[1].outstandingCrcRequests = 4;

    EXPECT_EQ(table().getPlayerDeathCountPerSecond(1), 2u);
    EXPECT_EQ(table().getPlayerMap()[1].chatFloodCount, 1);
    EXPECT_EQ(table().getPlayerTimeout(1), 9);
    EXPECT_EQ(table().getPlayerScore(1), -3);
    EXPECT_EQ(table().getPlayerMoney(1), 70000);
    EXPECT_TRUE(table().getPlayerDead(1));
    EXPECT_EQ(table().getPlayerDeathCountPerSecond(0), 0u);
    EXPECT_EQ(table().getPlayerTimeout(0), 0);
    EXPECT_FALSE(table().getPlayerDead(0));

    table().resetPlayerDeathCountPerSecond(1);
    table().resetChatFloodCountForPlayer(1);
    table().resetTimeoutForPlayer(1);
    table().resetOutstandingClientCRCRequests(1);
    EXPECT_EQ(table().getPlayerDeathCountPerSecond(1), 0u);
    EXPECT_EQ(table().getPlayerMap()[1].chatFloodCount, 0);
    EXPECT_EQ(table().getPlayerTimeout(1), 0);
    EXPECT_EQ(table().getPlayerMap()[1].outstandingCrcRequests, 0);
}

TEST_F(PlayerListTest, AbsentIdGivesDefaultsAndCreatesNothing) {
    add("a");
    const int absent = 5;
    table().setPlayerScore(absent, 10);
    table().setPlayerMoney(absent, 10);
    table().setPlayerDead(absent, true);
    table().incrementPlayerDeathCountPerSecond(absent);
    table().incrementChatFloodCountForPlayer(absent);
    table().updatePlayerTimeout(absent, 3);
    table().storeNewPingStamp(absent, 10);
    table().resetChatFloodLastChatForPlayer(absent);
    table().removePlayer(absent);

    struct Case {
        const char* name;
        long actual;
        long expected;
    } cases[] = {
        {"getClientType", table().getClientType(absent), -1},
        {"getPlayerTimeout", table().getPlayerTimeout(absent), -1},
        {"getPlayerScore", table().getPlayerScore(absent), 0},
        {"getPlayerMoney", table().getPlayerMoney(absent), 0},
        {"getPlayerDeathCountPerSecond",
         static_cast<long>(table().getPlayerDeathCountPerSecond(absent)), 0},
        {"getPlayerDead", table().getPlayerDead(absent), 0},
        {"getPlayerPing", table().getPlayerPing(absent), 0},
        {"doesPlayerExist", table().doesPlayerExist(absent), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.actual, c.expected);
    }
    EXPECT_EQ(table().getPlayerAddr(absent), nullptr);
    EXPECT_EQ(table().getPlayerEncryption(absent), nullptr);
    EXPECT_EQ(table().getPlayerCount(), 1);
}

TEST_F(PlayerListTest, KeyBytesStayInTheirRanges) {
    struct Case {
        const char* name;
        Random::Source source;
    } cases[] = {{"zeros", fillZeros}, {"ones", fillOnes}, {"counting", fillCounting}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Random::setSourceForTesting(c.source);
        int id = add(c.name);
        ASSERT_GE(id, 0);
        const Player& player = table().getPlayerMap()[id];
        for (int i = 0; i < 16; ++i) {
            EXPECT_GE(player.uniqueKey[i], 2 * i) << "byte " << i;
            EXPECT_LE(player.uniqueKey[i], 254) << "byte " << i;
        }
    }
    // A draw of zero gives each byte its lowest value.
    for (int i = 0; i < 16; ++i) EXPECT_EQ(table().getPlayerMap()[0].uniqueKey[i], 2 * i);
}

TEST_F(PlayerListTest, NoRandomBytesMeansNoPlayer) {
    Random::setSourceForTesting(fillNothing);
    EXPECT_LT(add("a"), 0);
    EXPECT_EQ(table().getPlayerCount(), 0);
}

TEST_F(PlayerListTest, PlayersJoiningTogetherGetDifferentKeys) {
    add("a");
    add("b");
    EXPECT_NE(
        std::memcmp(table().getPlayerMap()[0].uniqueKey, table().getPlayerMap()[1].uniqueKey, 16),
        0);
}

TEST_F(PlayerListTest, KeyAndCipherAreHandedOutForPresentIdsOnly) {
    Random::setSourceForTesting(fillCounting);
    add("a");

    char key[20] = {};
    EXPECT_EQ(table().getPlainKey(0, key), key);
    EXPECT_EQ(std::memcmp(key, table().getPlayerMap()[0].uniqueKey, 16), 0);
    EXPECT_EQ(std::memcmp(key + 16, "\0\0\0\0", 4), 0);

    // The stored cipher encrypts as a cipher freshly keyed with the handed-out key.
    const CRijndael* stored = table().getPlayerEncryption(0);
    ASSERT_NE(stored, nullptr);
    CRijndael copy = *stored;
    CRijndael expected;
    expected.MakeKey(key, CRijndael::sm_chain0, 16, 16);
    const char block[16] = "fifteen chars!!";
    char got[16] = {};
    char want[16] = {};
    copy.Encrypt(block, got, 16, CRijndael::ECB);
    expected.Encrypt(block, want, 16, CRijndael::ECB);
    EXPECT_EQ(std::memcmp(got, want, 16), 0);
    EXPECT_NE(std::memcmp(got, block, 16), 0);

    char untouched[20];
    std::memset(untouched, 0x5A, sizeof(untouched));
    EXPECT_EQ(table().getPlainKey(1, untouched), untouched);
    for (char c : untouched) EXPECT_EQ(c, 0x5A);
    EXPECT_EQ(table().getPlayerEncryption(1), nullptr);
}

TEST_F(PlayerListTest, OwnedTablesAreIndependentOfTheSingleton) {
    PlayerList* game = PlayerList::getInstance();
    add("player");
    {
        PlayerList admins;
        sockaddr_in address = makeAddress("10.0.0.9", 4003);
        EXPECT_EQ(admins.addPlayer(&address, "admin", 1), 0);
        EXPECT_EQ(admins.getPlayerCount(), 1);
        EXPECT_EQ(game->getPlayerCount(), 1);
    }
    EXPECT_EQ(PlayerList::getInstance(), game);  // destroying another table leaves it alone

    delete game;
    EXPECT_EQ(PlayerList::getInstance()->getPlayerCount(), 0);
}
