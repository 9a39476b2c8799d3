#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "game/PlayerList.h"
#include "game/VehicleList.h"

namespace {

using Bytes = std::vector<unsigned char>;

enum class Client { kGta3, kGtaVc };

const char* clientName(Client client) { return client == Client::kGta3 ? "GTA3" : "GTA:VC"; }

std::uint32_t bitsOf(float value) {
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof(bits));
    return bits;
}

// A state record written byte by byte, little-endian.
class Record {
public:
    Record& u8(unsigned value) {
        m_bytes.push_back(static_cast<unsigned char>(value));
        return *this;
    }
    Record& u32(std::uint32_t value) {
        for (int shift = 0; shift < 32; shift += 8) u8((value >> shift) & 0xFF);
        return *this;
    }
    Record& xyz(float x, float y, float z) { return u32(bitsOf(x)).u32(bitsOf(y)).u32(bitsOf(z)); }
    Record& repeat(unsigned value, int count) {
        for (int i = 0; i < count; ++i) u8(value);
        return *this;
    }
    Record& append(const Bytes& more) {
        m_bytes.insert(m_bytes.end(), more.begin(), more.end());
        return *this;
    }
    operator Bytes() const { return m_bytes; }

private:
    Bytes m_bytes;
};

// Signalling-NaN bit patterns: they survive only if nothing on the way treats them as numbers.
constexpr std::uint32_t kNanHeading = 0x7FA00001;
constexpr std::uint32_t kNanX = 0xFF800123;
constexpr std::uint32_t kHeading = 0x3FC90FDB;  // about pi/2
constexpr std::uint32_t kOtherHeading = 0x40490FDB;

Bytes onFoot(float x, float y, float z = 0.0f) { return Record().u8(0).u32(0).u8(1).xyz(x, y, z); }
Bytes driving(int vehicle, float x, float y, float z = 0.0f) {
    return Record().u8(vehicle).u32(kHeading).u8(14).xyz(x, y, z);
}

sockaddr_in makeAddress(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    inet_pton(AF_INET, "10.0.0.1", &address.sin_addr);
    return address;
}

// Fresh player and vehicle tables for every test.
class PlayerStateTest : public ::testing::Test {
protected:
    void SetUp() override { resetTables(); }
    void TearDown() override { resetTables(); }

    static void resetTables() {
        delete PlayerList::getInstance();
        delete VehicleList::getInstance();
    }

    static PlayerList& table() { return *PlayerList::getInstance(); }
    static VehicleList& vehicles() { return *VehicleList::getInstance(); }

    static int add() {
        sockaddr_in address =
            makeAddress(static_cast<std::uint16_t>(5000 + table().getPlayerCount()));
        return table().addPlayer(&address, "player", 0);
    }

    // The record goes through an exact-size heap block, so the sanitized build reports any read
    // past its end. `length` defaults to the whole record.
    static void store(Client client, int id, const Bytes& record, int length = -1) {
        auto block = std::make_unique<unsigned char[]>(record.size());
        if (!record.empty()) std::memcpy(block.get(), record.data(), record.size());
        if (length == -1) length = static_cast<int>(record.size());
        if (client == Client::kGta3) {
            table().storeGTA3PlayerData(id, block.get(), length);
        } else {
            table().storeGTAVCPlayerData(id, block.get(), length);
        }
    }
    static void store(int id, const Bytes& record) { store(Client::kGta3, id, record); }

    static int writeCompact(Client client, int id, unsigned char* buffer, int* position) {
        return client == Client::kGta3
                   ? table().getGTA3PlayerGameDataPacketTiny(id, buffer, position)
                   : table().getGTAVCPlayerGameDataPacketTiny(id, buffer, position);
    }

    // The compact form, written after a two-byte prefix the way the relay writes it; checks that
    // nothing outside the reported bytes is touched.
    static Bytes compact(Client client, int id) {
        unsigned char buffer[40];
        std::memset(buffer, 0xAA, sizeof(buffer));
        int position = 2;
        EXPECT_EQ(writeCompact(client, id, buffer, &position), 1);
        EXPECT_GE(position, 3);
        EXPECT_LE(position, 2 + 22);
        for (int i = 0; i < static_cast<int>(sizeof(buffer)); ++i) {
            if (i < 2 || i >= position) {
                EXPECT_EQ(buffer[i], 0xAA) << "byte " << i;
            }
        }
        return Bytes(buffer + 2, buffer + position);
    }
    static Bytes compact(int id) { return compact(Client::kGta3, id); }

    static const GameState& state(int id) {
        return table().getPlayerMap().find(id)->second.gameState;
    }

    static std::array<std::uint32_t, 3> positionBits(const float (&position)[3]) {
        return {bitsOf(position[0]), bitsOf(position[1]), bitsOf(position[2])};
    }
};

class VehicleListTest : public PlayerStateTest {};
class VisibilityTest : public PlayerStateTest {};

TEST_F(PlayerStateTest, OnFootRecordIsStoredAndRelaysAsItsCompactForm) {
    const Bytes foot = Record()
                           .u8(0)
                           .u32(kNanHeading)
                           .u8(1)
                           .u32(kNanX)
                           .u32(bitsOf(12.5f))
                           .u32(bitsOf(-3.25f))
                           .u8(2);
    const Bytes footFull = Record().append(foot).u8(0x05);
    const Bytes footMinusOne = Record().append(foot).u8(0xFF);
    struct Case {
        Client client;
        Bytes record;
        Bytes compact;
        std::int32_t stateByteA;
        std::int32_t stateByteE;
    };
    const Case cases[] = {
        {Client::kGta3, footFull, footFull, 5, 0},
        {Client::kGta3, footMinusOne, footMinusOne, -1, 0},
        {Client::kGtaVc, footFull, Record().append(footFull).u8(0x03).u8(0x00), 5, 0},
        {Client::kGtaVc, Record().append(footMinusOne).u8(0x03).u8(0x80),
         Record().append(footMinusOne).u8(0x03).u8(0x80), -1, -128},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << clientName(c.client) << ", " << c.record.size()
                                        << " bytes, compact " << c.compact.size());
        resetTables();
        int id = add();
        store(c.client, id, c.record);
        const GameState& s = state(id);
        EXPECT_FALSE(s.inVehicle);
        EXPECT_EQ(s.vehicleId, 0);
        EXPECT_EQ(s.vehicle, nullptr);
        EXPECT_EQ(s.heading, kNanHeading);
        EXPECT_EQ(positionBits(s.position),
                  (std::array<std::uint32_t, 3>{kNanX, bitsOf(12.5f), bitsOf(-3.25f)}));
        EXPECT_EQ(s.stateByteA, c.stateByteA);
        EXPECT_EQ(s.stateByteE, c.stateByteE);
        EXPECT_EQ(compact(c.client, id), c.compact);
    }
}

// The tagged values, read back in the order A..H then words A..D.
std::array<std::int64_t, 12> slots(const GameState& s) {
    return {s.stateByteA, s.stateByteB, s.stateByteC, s.stateByteD, s.stateByteE, s.stateByteF,
            s.stateByteG, s.stateByteH, s.stateWordA, s.stateWordB, s.stateWordC, s.stateWordD};
}

TEST_F(PlayerStateTest, EachTagFillsOnlyItsOwnSlot) {
    enum Slot { A, B, C, D, E, F, G, H, WordA, WordB, WordC, WordD };
    struct Case {
        Client client;
        unsigned tag;
        Slot slot;
    };
    const Case cases[] = {
        {Client::kGta3, 2, A},      {Client::kGta3, 3, B},      {Client::kGta3, 4, D},
        {Client::kGta3, 5, F},      {Client::kGta3, 6, C},      {Client::kGta3, 7, WordB},
        {Client::kGta3, 8, WordA},  {Client::kGta3, 9, WordC},  {Client::kGta3, 10, WordD},
        {Client::kGtaVc, 2, A},     {Client::kGtaVc, 3, E},     {Client::kGtaVc, 4, D},
        {Client::kGtaVc, 5, B},     {Client::kGtaVc, 6, G},     {Client::kGtaVc, 7, H},
        {Client::kGtaVc, 8, WordA}, {Client::kGtaVc, 9, WordC},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << clientName(c.client) << " tag " << c.tag);
        int id = add();
        const bool word = c.slot >= WordA;
        store(c.client, id,
              word ? Record().u8(230).u8(c.tag).u32(0x89ABCDEF)
                   : Record().u8(230).u8(c.tag).u8(0x9C));
        std::array<std::int64_t, 12> expected{};
        expected[c.slot] = word ? std::int64_t{0x89ABCDEF} : std::int64_t{-100};
        EXPECT_EQ(slots(state(id)), expected);
    }
}

TEST_F(PlayerStateTest, TagsThatStoreNothingConsumeTheirPayloadSize) {
    // Filler 0x01 read as tags would set the position; the closing tag 2 shows the walk kept step.
    struct Case {
        Client client;
        unsigned tag;
        int size;
    };
    const Case cases[] = {
        {Client::kGta3, 0, 0},    {Client::kGta3, 11, 12},  {Client::kGta3, 13, 12},
        {Client::kGta3, 14, 12},  {Client::kGta3, 15, 12},  {Client::kGta3, 16, 1},
        {Client::kGta3, 17, 0},   {Client::kGta3, 255, 0},  {Client::kGtaVc, 0, 0},
        {Client::kGtaVc, 10, 12}, {Client::kGtaVc, 12, 12}, {Client::kGtaVc, 13, 12},
        {Client::kGtaVc, 14, 12}, {Client::kGtaVc, 15, 1},  {Client::kGtaVc, 16, 1},
        {Client::kGtaVc, 17, 0},  {Client::kGtaVc, 200, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << clientName(c.client) << " tag " << c.tag);
        int id = add();
        store(c.client, id, Record().u8(230).u8(c.tag).repeat(0x01, c.size).u8(2).u8(5));
        const GameState& s = state(id);
        EXPECT_EQ(s.stateByteA, 5);
        EXPECT_EQ(positionBits(s.position), positionBits({0, 0, 0}));
    }
}

TEST_F(PlayerStateTest, DriverRecordWritesTheSharedVehicle) {
    struct Case {
        Client client;
        unsigned positionTag;
        unsigned secondTag;
    };
    const Case cases[] = {{Client::kGta3, 14, 15}, {Client::kGtaVc, 13, 14}};
    for (const Case& c : cases) {
        SCOPED_TRACE(clientName(c.client));
        resetTables();
        int id = add();
        store(c.client, id,
              Record()
                  .u8(5)
                  .u32(kNanHeading)
                  .u8(c.positionTag)
                  .xyz(100.5f, -20, 7)
                  .u8(c.secondTag)
                  .u32(1)
                  .u32(2)
                  .u32(0xFFFFFFFF));
        const VehicleData* vehicle = vehicles().getVehicleData(5);
        ASSERT_NE(vehicle, nullptr);
        EXPECT_EQ(vehicle->heading, kNanHeading);
        EXPECT_EQ(positionBits(vehicle->position), positionBits({100.5f, -20, 7}));
        EXPECT_EQ(vehicle->secondVector[0], 1u);
        EXPECT_EQ(vehicle->secondVector[1], 2u);
        EXPECT_EQ(vehicle->secondVector[2], 0xFFFFFFFFu);
        const GameState& s = state(id);
        EXPECT_TRUE(s.inVehicle);
        EXPECT_FALSE(s.isPassenger);
        EXPECT_EQ(s.vehicleId, 5);
        EXPECT_EQ(s.vehicle, vehicle);
        // The on-foot heading and position are kept for when the player gets out.
        EXPECT_EQ(s.heading, 0u);
        EXPECT_EQ(positionBits(s.position), positionBits({0, 0, 0}));
        // The driver's compact form is itself a driver record naming the vehicle position tag.
        EXPECT_EQ(compact(c.client, id),
                  Bytes(Record().u8(5).u32(kNanHeading).u8(c.positionTag).xyz(100.5f, -20, 7)));
    }
}

TEST_F(PlayerStateTest, PassengerSharesTheDriversVehicle) {
    int driver = add();
    int passenger = add();
    store(driver, driving(5, 10, 20, 30));
    store(passenger, Record().u8(105).u8(14).xyz(40, 50, 60));

    const GameState& p = state(passenger);
    EXPECT_TRUE(p.inVehicle);
    EXPECT_TRUE(p.isPassenger);
    EXPECT_EQ(p.vehicleId, 5);
    EXPECT_EQ(p.vehicle, state(driver).vehicle);
    EXPECT_EQ(compact(passenger), Bytes{105});
    // The passenger zeroed the heading and moved the vehicle; the driver's relay shows both.
    EXPECT_EQ(compact(driver), Bytes(Record().u8(5).u32(0).u8(0x0E).xyz(40, 50, 60)));

    // A driver record carrying only a heading leaves the position another occupant wrote, and
    // naming an existing vehicle again does not reset it.
    store(driver, Record().u8(5).u32(kOtherHeading));
    vehicles().addVehicle(5);
    EXPECT_EQ(compact(driver), Bytes(Record().u8(5).u32(kOtherHeading).u8(0x0E).xyz(40, 50, 60)));
}

TEST_F(PlayerStateTest, HighSelectorIsOnFootWithHeadingZeroAndKeepsPassengerFlag) {
    int id = add();
    store(id, Record().u8(0).u32(kHeading).u8(1).xyz(1, 2, 3));
    store(id, Record().u8(105));
    store(id, Record().u8(230).u8(2).u8(9));

    const GameState& s = state(id);
    EXPECT_FALSE(s.inVehicle);
    EXPECT_TRUE(s.isPassenger);
    EXPECT_EQ(s.vehicleId, 0);
    EXPECT_EQ(s.vehicle, nullptr);
    EXPECT_EQ(s.heading, 0u);
    EXPECT_EQ(s.stateByteA, 9);
    // On foot wins over the stale passenger flag.
    EXPECT_EQ(compact(id), Bytes(Record().u8(0).u32(0).u8(1).xyz(1, 2, 3).u8(2).u8(9)));
}

TEST_F(PlayerStateTest, ShortRecordsNeverReadPastTheirLength) {
    // Every player first stands at x = 7 with heading kHeading and stateByteA 7, then drives 3.
    const Bytes before = Record().u8(0).u32(kHeading).u8(1).xyz(7, 0, 0).u8(2).u8(7);
    struct Case {
        const char* name;
        Bytes record;
        int length;  // -1: the whole record
        bool inVehicle;
        int vehicleId;
        std::uint32_t heading;
        std::int32_t stateByteA;
        float x;
    };
    const Case cases[] = {
        {"high selector and a lone tag byte", Record().u8(0xC9).u8(2), -1, false, 0, 0, 7, 7},
        {"length stops before a tag's payload", Record().u8(0xC9).u8(2).u8(5), 2, false, 0, 0, 7,
         7},
        {"field cut short ends the walk",
         Record().u8(0).u32(kOtherHeading).u8(2).u8(5).u8(1).u32(bitsOf(99)).u8(0).u8(0), -1, false,
         0, kOtherHeading, 5, 7},
        {"selector alone", Record().u8(0), -1, false, 0, 0, 7, 7},
        {"on-foot heading cut short", Record().u8(0).u8(2).u8(5).u8(0), -1, false, 0, 0, 7, 7},
        {"driver heading cut short", Record().u8(9).u8(2).u8(5), -1, true, 9, kHeading, 7, 7},
        {"length zero", Record().u8(0xC9).u8(2).u8(5), 0, true, 3, kHeading, 7, 7},
        {"negative length", Record().u8(0xC9).u8(2).u8(5), -5, true, 3, kHeading, 7, 7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int id = add();
        store(id, before);
        store(id, Record().u8(3).u32(kOtherHeading));
        store(Client::kGta3, id, c.record, c.length);
        const GameState& s = state(id);
        EXPECT_EQ(s.inVehicle, c.inVehicle);
        EXPECT_EQ(s.vehicleId, c.vehicleId);
        EXPECT_EQ(s.vehicle, c.inVehicle ? vehicles().getVehicleData(c.vehicleId) : nullptr);
        EXPECT_EQ(s.heading, c.heading);
        EXPECT_EQ(s.stateByteA, c.stateByteA);
        EXPECT_EQ(s.position[0], c.x);
    }
    // The driver record without its heading bytes still named vehicle 9, with heading 0.
    ASSERT_NE(vehicles().getVehicleData(9), nullptr);
    EXPECT_EQ(vehicles().getVehicleData(9)->heading, 0u);
}

TEST_F(PlayerStateTest, DriverWithoutVehicleRecordRelaysZeros) {
    int id = add();
    int other = add();
    store(id, onFoot(1000, 0));
    GameState& s = table().getPlayerMap().find(id)->second.gameState;
    s.inVehicle = true;
    s.vehicleId = 3;
    s.heading = kHeading;
    EXPECT_EQ(compact(Client::kGta3, id), Bytes(Record().u8(3).u32(0).u8(0x0E).xyz(0, 0, 0)));
    EXPECT_EQ(compact(Client::kGtaVc, id), Bytes(Record().u8(3).u32(0).u8(0x0D).xyz(0, 0, 0)));
    // Measured at the origin, as relayed, not at the player's own position.
    EXPECT_TRUE(table().isPlayerVisible(id, other));
}

TEST_F(PlayerStateTest, AbsentIdChangesNothing) {
    int id = add();
    const int absent = id + 1;
    store(Client::kGta3, absent, driving(5, 1, 2));
    store(Client::kGtaVc, absent, driving(6, 1, 2));
    EXPECT_FALSE(vehicles().doesVehicleExist(5));
    EXPECT_FALSE(vehicles().doesVehicleExist(6));

    unsigned char buffer[24] = {};
    int position = 2;
    EXPECT_EQ(table().getGTA3PlayerGameDataPacketTiny(absent, buffer, &position), 0);
    EXPECT_EQ(table().getGTAVCPlayerGameDataPacketTiny(absent, buffer, &position), 0);
    EXPECT_EQ(position, 2);
    EXPECT_EQ(Bytes(buffer, buffer + sizeof(buffer)), Bytes(sizeof(buffer), 0));

    table().storePlayerSkin(absent, 12);
    EXPECT_EQ(table().getPlayerSkin(absent), 0);
}

TEST_F(PlayerStateTest, SkinIsKeptApartFromStateRecords) {
    int a = add();
    int b = add();
    table().storePlayerSkin(a, 42);
    table().storePlayerSkin(b, -3);
    store(a, driving(4, 1, 2));
    store(a, onFoot(5, 6));
    EXPECT_EQ(table().getPlayerSkin(a), 42);
    EXPECT_EQ(table().getPlayerSkin(b), -3);
}

TEST_F(VehicleListTest, RecordsAreAddedOnceAndStayInPlace) {
    EXPECT_EQ(vehicles().getVehicleData(7), nullptr);
    EXPECT_FALSE(vehicles().doesVehicleExist(7));
    vehicles().addVehicle(7);
    VehicleData* first = vehicles().getVehicleData(7);
    ASSERT_NE(first, nullptr);
    const VehicleData zero{};
    EXPECT_EQ(std::memcmp(first, &zero, sizeof(zero)), 0);

    first->position[0] = 4;
    vehicles().addVehicle(7);
    for (int id = 1; id <= 100; ++id) vehicles().addVehicle(id);
    EXPECT_EQ(vehicles().getVehicleData(7), first);
    EXPECT_EQ(first->position[0], 4);
    EXPECT_EQ(vehicles().getVehicleData(101), nullptr);

    delete VehicleList::getInstance();
    EXPECT_FALSE(vehicles().doesVehicleExist(7));
}

TEST_F(VisibilityTest, DistanceInXAndYDecides) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float infinity = std::numeric_limits<float>::infinity();
    struct Case {
        const char* name;
        std::vector<Bytes> recordsA;
        std::vector<Bytes> recordsB;
        bool visible;
    };
    const Case cases[] = {
        {"299.9 apart", {onFoot(0, 0)}, {onFoot(299.9f, 0)}, true},
        {"exactly 300 apart", {onFoot(0, 0)}, {onFoot(180, 240)}, false},
        // 299.99998 in double, but the single-precision square root rounds to 300.
        {"rounds to 300 in single precision",
         {onFoot(0, 0)},
         {onFoot(180, std::nextafter(240.0f, 0.0f))},
         false},
        {"height ignored", {onFoot(0, 0, -5000)}, {onFoot(100, 0, 5000)}, true},
        {"not a number", {onFoot(nan, 0)}, {onFoot(1000, 0)}, true},
        {"infinitely far", {onFoot(infinity, 0)}, {onFoot(0, 0)}, false},
        {"driver measured at the vehicle",
         {onFoot(0, 0), driving(6, 1000, 0)},
         {onFoot(1100, 0)},
         true},
        {"driver's own position ignored",
         {onFoot(1100, 0), driving(6, 0, 0)},
         {onFoot(1100, 0)},
         false},
        {"passenger measured at the vehicle",
         {driving(6, 1000, 0)},
         {onFoot(0, 0), Record().u8(106)},
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        resetTables();
        int a = add();
        int b = add();
        for (const Bytes& record : c.recordsA) store(a, record);
        for (const Bytes& record : c.recordsB) store(b, record);
        EXPECT_EQ(table().isPlayerVisible(a, b), c.visible);
        EXPECT_EQ(table().isPlayerVisible(b, a), c.visible);
    }
}

TEST_F(VisibilityTest, AbsentPlayerIsVisible) {
    int a = add();
    store(a, onFoot(5000, 5000));
    EXPECT_TRUE(table().isPlayerVisible(a, a + 1));
    EXPECT_TRUE(table().isPlayerVisible(a + 1, a));
    EXPECT_TRUE(table().isPlayerVisible(a + 1, a + 2));
}

}  // namespace
