#include <arpa/inet.h>

#include <cstring>

#include "UnitSupport.h"
#include "game/PlayerList.h"
#include "listing/ASEFormat.h"
#include "listing/ASEQuery.h"
#include "listing/ASEState.h"
#include "support/FakeEndpoint.h"
#include "support/UdpPeer.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes field(const char* text) {
    std::uint8_t buffer[300];
    std::size_t position = 0;
    EXPECT_TRUE(aseAppendString(buffer, &position, sizeof(buffer), text));
    return Bytes(buffer, buffer + position);
}

Bytes numbered(std::size_t length) {
    Bytes reply(length);
    for (std::size_t i = 0; i < length; ++i) reply[i] = static_cast<std::uint8_t>(i * 31 + 7);
    std::memcpy(reply.data(), "EYE1", 4);
    return reply;
}

}  // namespace

TEST(ListingFormat, StringAndNumberFields) {
    EXPECT_EQ(field(nullptr), Bytes{0x01});
    EXPECT_EQ(field(""), Bytes{0x01});
    EXPECT_EQ(field("zev"), (Bytes{0x04, 'z', 'e', 'v'}));
    std::string longText(300, 'x');
    Bytes cut = field(longText.c_str());
    ASSERT_EQ(cut.size(), 255u);
    EXPECT_EQ(cut[0], 255);

    std::uint8_t buffer[16];
    std::size_t position = 0;
    ASSERT_TRUE(aseAppendNumber(buffer, &position, sizeof(buffer), -42));
    EXPECT_EQ(Bytes(buffer, buffer + position), (Bytes{0x04, '-', '4', '2'}));
    position = 0;
    EXPECT_FALSE(aseAppendString(buffer, &position, 3, "abc")) << "needs 4 bytes";
    EXPECT_EQ(position, 0u);
}

TEST(ListingFormat, FragmentsLongReplies) {
    const std::uint32_t id = 0xA1B2C3D4;
    const Bytes idBytes = {0xD4, 0xC3, 0xB2, 0xA1};
    struct Case {
        std::size_t length;
        std::vector<std::size_t> sizes;
    };
    const Case cases[] = {
        {1363, {1363}},
        {1364, {1364, 8}},
        // The last fragment exactly full: a closing fragment follows.
        {4 + 1356, {1360}},
        {4 + 2 * 1356, {1364, 1364, 9}},
        {4 + 2 * 1356 + 1, {1364, 1364, 9}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        Bytes reply = numbered(c.length);
        auto fragments = aseFragments(reply.data(), reply.size(), id);
        std::vector<std::size_t> sizes;
        for (const auto& fragment : fragments) sizes.push_back(fragment.size());
        if (c.length <= kAseMaxUnfragmented) {
            EXPECT_EQ(sizes, c.sizes);
            continue;
        }
        // Rebuild the reply from the fragments and check their headers and ids.
        Bytes rebuilt(reply.begin(), reply.begin() + 4);
        for (std::size_t i = 0; i < fragments.size(); ++i) {
            const Bytes& fragment = fragments[i];
            EXPECT_EQ(Bytes(fragment.begin(), fragment.begin() + 4),
                      (Bytes{'E', 'Y', 'E', static_cast<std::uint8_t>('1' + i)}));
            EXPECT_EQ(Bytes(fragment.end() - 4, fragment.end()), idBytes);
            bool closing = fragment.size() == 9 && fragment[4] == 0 && i + 1 == fragments.size() &&
                           (c.length - 4) % 1356 == 0;
            if (!closing) rebuilt.insert(rebuilt.end(), fragment.begin() + 4, fragment.end() - 4);
        }
        EXPECT_EQ(rebuilt, reply);
    }
    Bytes two = numbered(1364);
    auto fragments = aseFragments(two.data(), two.size(), id);
    ASSERT_EQ(fragments.size(), 2u);
    EXPECT_EQ(fragments[1], (Bytes{'E', 'Y', 'E', '2', two[1360], two[1361], two[1362], two[1363],
                                   0xD4, 0xC3, 0xB2, 0xA1}));
}

TEST(ListingFormat, HeartbeatScheduleDoublesToItsCeiling) {
    AseHeartbeatSchedule schedule;
    std::uint32_t now = 4000000000u;  // close to the 32-bit wrap
    std::vector<std::uint32_t> gaps;
    std::uint32_t last = now;
    ASSERT_TRUE(schedule.take(now, false));
    for (int second = 1; second <= 6000; ++second) {
        now += 1000;
        if (schedule.take(now, false)) {
            gaps.push_back((now - last) / 1000);
            last = now;
        }
    }
    EXPECT_EQ(gaps, (std::vector<std::uint32_t>{15, 30, 60, 120, 240, 480, 960, 1920, 1920}));
}

TEST(ListingFormat, FallbackPrimaryPausesADayAfterTheThirdHeartbeat) {
    AseHeartbeatSchedule schedule;
    std::vector<std::uint32_t> at;
    for (std::uint32_t second = 0; second <= 88000; ++second) {
        if (schedule.take(second * 1000, true)) at.push_back(second);
    }
    const std::uint32_t resumed = 45 + 86400;
    EXPECT_EQ(at, (std::vector<std::uint32_t>{0, 15, 45, resumed, resumed + 120, resumed + 360,
                                              resumed + 840}));
    EXPECT_EQ(aseHeartbeatText(4123, "zev"), "\\hb\\4123\\zev");
}

TEST(ListingFormat, VerificationDependsOnTableAndChallenge) {
    AseVerificationTable first{};
    AseVerificationTable second{};
    std::uint32_t seed = 1;
    aseBuildVerificationTable(first, &seed);
    aseBuildVerificationTable(second, &seed);
    // Each row keeps one of each byte value per column: the shuffle only swaps.
    for (int column = 0; column < 2; ++column) {
        std::uint32_t xorAll = 0;
        for (auto& row : first.rows) xorAll ^= row[column];
        EXPECT_EQ(xorAll, 0u);
    }
    const unsigned char challenge[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    const unsigned char other[8] = {1, 2, 3, 4, 5, 6, 7, 9};
    EXPECT_NE(aseVerify(first, challenge), aseVerify(first, other));
    EXPECT_NE(aseVerify(first, challenge), aseVerify(second, challenge))
        << "a second initialisation builds another table";
}

namespace {

// The module on a real loopback socket, with players in the game table.
class ListingModuleTest : public CoreTest {
protected:
    void SetUp() override {
        CoreTest::SetUp();
        aseResetState();
        setConf("ServerName", "\"Unit Server\"");
        setConf("GameMap", "1");
        setConf("MaxPlayers", "26");
        setConf("ASEMasterPrimary", "127.0.0.1:1");
    }
    void TearDown() override {
        aseResetState();
        delete PlayerList::getInstance();
        CoreTest::TearDown();
    }

    std::optional<Bytes> query(const Bytes& datagram) {
        if (!m_client.sendTo(static_cast<std::uint16_t>(ASEQuery_port()), datagram)) return {};
        ASEQuery_check();
        Bytes reply;
        if (!m_client.receive(reply, 500)) return {};
        return reply;
    }

    UdpPeer m_client;
};

}  // namespace

TEST_F(ListingModuleTest, StatusReplyListsPlayersWithWrappedPings) {
    std::uint16_t gamePort = pickFreeUdpPort();
    ASSERT_EQ(ASEQuery_initialize(gamePort, 1, "127.0.0.1"), 1) << ASEQuery_error;
    EXPECT_EQ(ASEQuery_port(), gamePort + 123);
    PlayerList* players = PlayerList::getInstance();
    sockaddr_in ann = loopbackAddress(10, 5000);
    int id = players->addPlayer(&ann, "Ann", 0);
    players->setPlayerScore(id, 3);
    players->storeOldPingStamp(id, 65530);
    players->storeNewPingStamp(id, 34);

    std::optional<Bytes> reply = query(Bytes{'s'});
    ASSERT_TRUE(reply.has_value());
    Bytes expected = {'E', 'Y', 'E', '1', 4, 'z', 'e', 'v'};
    std::string port = std::to_string(gamePort);
    expected.push_back(static_cast<std::uint8_t>(port.size() + 1));
    expected.insert(expected.end(), port.begin(), port.end());
    for (const char* text : {"Unit Server", "ZEV:VC", "Vice City : Deathmatch", "0.5", "0", "1",
                             "26", "Patch1Installed", "yes", "ListenServer", "no"}) {
        Bytes f = field(text);
        expected.insert(expected.end(), f.begin(), f.end());
    }
    expected.push_back(0x01);
    const Bytes ann13 = {0x3F, 0x04, 'A', 'n', 'n', 0x01, 0x01, 0x02, '3', 0x03, '4', '0', 0x01};
    expected.insert(expected.end(), ann13.begin(), ann13.end());
    EXPECT_EQ(*reply, expected);

    EXPECT_EQ(query(Bytes{'g'}), (Bytes{'G', 'z', 'e', 'v'}));
    EXPECT_EQ(query(Bytes{'p', 1, 2, 3}), (Bytes{'P', 1, 2, 3}));
    EXPECT_FALSE(query(Bytes(20, 'p')).has_value()) << "a ping query above 19 bytes";
    EXPECT_FALSE(query(Bytes{'x'}).has_value());
    std::optional<Bytes> verified = query(Bytes{'v', 1, 2, 3, 4, 5, 6, 7, 8});
    ASSERT_TRUE(verified.has_value()) << "the primary master is on 127.0.0.x";
    EXPECT_EQ(verified->size(), 5u);
    EXPECT_FALSE(query(Bytes{'v', 1, 2, 3, 4, 5, 6, 7}).has_value());
}

TEST_F(ListingModuleTest, EveryPlayerIsListedAndAppendsStopAtTheLimit) {
    ASSERT_EQ(ASEQuery_initialize(pickFreeUdpPort(), 0, nullptr), 1) << ASEQuery_error;
    PlayerList* players = PlayerList::getInstance();
    for (int i = 0; i < 32; ++i) {
        sockaddr_in address = loopbackAddress(10 + i, 5000);
        players->addPlayer(&address, ("Player" + std::to_string(i)).c_str(), 0);
    }
    std::optional<Bytes> reply = query(Bytes{'s'});
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(std::count(reply->begin(), reply->end(), 0x3F), 32);
    EXPECT_FALSE(query(Bytes{'p'}).has_value()) << "no ping replies without announcements";

    // An append that starts before the limit writes its whole group; the next one nothing.
    AseState& state = aseState();
    state.position = 6143;
    state.limit = 6144;
    ASEQuery_addplayer("Ann", "", "", "3", "40", "");
    EXPECT_EQ(state.position, 6143u + 13u);
    ASEQuery_addrule("more", "rules");
    ASEQuery_addplayer("Bob", "", "", "1", "2", "");
    EXPECT_EQ(state.position, 6143u + 13u);
}
