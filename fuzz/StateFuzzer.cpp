// The player-state record parser, the compact form and the visibility rule, for both client
// types, over sequences of records from three players who may share vehicles.
//
// Input: one byte whose bit 0 picks GTA:VC over GTA3, then records: a byte naming the player
// (bits 0-1: players 0-2, or 3 for an id that is not in the table), a 16-bit little-endian
// length and the record (at most 1024 bytes). After each record the compact form is checked
// against the record's selector, re-parsed on a fourth player (the compact form is itself a
// record and must give itself back), and visibility is checked for symmetry and, away from the
// 300-unit boundary, against the distance in double precision.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "FuzzSupport.h"
#include "core/Conf.h"
#include "game/PlayerList.h"
#include "game/VehicleList.h"
#include "net/Envelope.h"

namespace {

constexpr int kPlayers = 3;
constexpr int kScratch = 3;  // the player the compact forms are re-parsed on
constexpr int kAbsent = 9;

using Store = void (PlayerList::*)(int, const unsigned char*, int);
using Tiny = int (PlayerList::*)(int, unsigned char*, int*) const;

struct Format {
    Store store;
    Tiny tiny;
    std::size_t onFootSize;
    std::uint8_t vehiclePositionTag;
};

const Format kGta3 = {&PlayerList::storeGTA3PlayerData,
                      &PlayerList::getGTA3PlayerGameDataPacketTiny, 20, 0x0E};
const Format kGtaVc = {&PlayerList::storeGTAVCPlayerData,
                       &PlayerList::getGTAVCPlayerGameDataPacketTiny, 22, 0x0D};

PlayerList& players() { return *PlayerList::getInstance(); }

// The compact form, written after two bytes of packet header as the relay does, into exactly
// the room the contract promises (22 bytes after the offset). Empty when the id is absent.
std::vector<std::uint8_t> compact(const Format& format, int id) {
    constexpr int kOffset = 2;
    std::vector<std::uint8_t> zeros(kOffset + 22, 0);
    fuzz::HeapBytes buffer(zeros);
    int position = kOffset;
    int written = (players().*format.tiny)(id, buffer.data(), &position);
    if (written == 0) {
        FUZZ_CHECK(position == kOffset);
        FUZZ_CHECK(std::memcmp(buffer.data(), zeros.data(), zeros.size()) == 0);
        return {};
    }
    FUZZ_CHECK(written == 1);
    FUZZ_CHECK(position > kOffset && position <= kOffset + 22);
    return std::vector<std::uint8_t>(buffer.data() + kOffset, buffer.data() + position);
}

void store(const Format& format, int id, const std::vector<std::uint8_t>& record) {
    fuzz::HeapBytes copy(record);
    (players().*format.store)(id, copy.data(), static_cast<int>(copy.size()));
}

// The compact form of a player who just sent `record` follows from the record's selector.
void checkAgainstSelector(const Format& format, const std::vector<std::uint8_t>& record,
                          const std::vector<std::uint8_t>& form) {
    const std::uint8_t selector = record[0];
    std::uint8_t heading[4] = {};
    if (selector <= 100 && record.size() >= 5) std::memcpy(heading, record.data() + 1, 4);
    if (selector >= 101 && selector <= 200) {
        FUZZ_CHECK(form.size() == 1 && form[0] == selector);
        return;
    }
    if (selector >= 1 && selector <= 100) {
        FUZZ_CHECK(form.size() == 18 && form[0] == selector);
        FUZZ_CHECK(form[5] == format.vehiclePositionTag);
    } else {
        FUZZ_CHECK(form.size() == format.onFootSize && form[0] == 0);
        FUZZ_CHECK(form[5] == 1 && form[18] == 2);
        if (format.onFootSize == 22) FUZZ_CHECK(form[20] == 3);
    }
    FUZZ_CHECK(std::memcmp(form.data() + 1, heading, 4) == 0);
}

float floatAt(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
    float value = 0;
    std::memcpy(&value, bytes.data() + offset, sizeof(value));
    return value;
}

// The x and y a player is measured at: its own position on foot, its vehicle's otherwise.
bool groundPoint(const std::vector<std::uint8_t>& form, double* x, double* y) {
    if (form.size() >= 14) {
        *x = floatAt(form, 6);
        *y = floatAt(form, 10);
        return true;
    }
    if (form.size() != 1) return false;
    VehicleData* vehicle = VehicleList::getInstance()->getVehicleData(form[0] - 100);
    if (vehicle == nullptr) return false;
    *x = vehicle->position[0];
    *y = vehicle->position[1];
    return true;
}

void checkVisibility(const Format& format) {
    std::vector<std::uint8_t> forms[kPlayers + 1];
    for (int id = 0; id <= kPlayers; ++id) forms[id] = compact(format, id);
    for (int a = 0; a <= kPlayers; ++a) {
        FUZZ_CHECK(players().isPlayerVisible(a, a));
        FUZZ_CHECK(players().isPlayerVisible(a, kAbsent) && players().isPlayerVisible(kAbsent, a));
        for (int b = a + 1; b <= kPlayers; ++b) {
            bool visible = players().isPlayerVisible(a, b);
            FUZZ_CHECK(visible == players().isPlayerVisible(b, a));
            double xa, ya, xb, yb;
            if (!groundPoint(forms[a], &xa, &ya) || !groundPoint(forms[b], &xb, &yb)) continue;
            // Not hypot, which is infinite when one side is infinite and the other NaN.
            double distance = std::sqrt((xa - xb) * (xa - xb) + (ya - yb) * (ya - yb));
            if (std::isnan(distance)) continue;
            if (distance < 299.99) FUZZ_CHECK(visible);
            if (distance > 300.01) FUZZ_CHECK(!visible);
        }
    }
}

void checkRecord(const Format& format, int who, const std::vector<std::uint8_t>& record) {
    std::vector<std::uint8_t> before[kPlayers];
    for (int id = 0; id < kPlayers; ++id) before[id] = compact(format, id);

    int id = who < kPlayers ? who : kAbsent;
    store(format, id, record);
    if (id == kAbsent || record.empty()) {
        // No effect at all.
        for (int other = 0; other < kPlayers; ++other) {
            FUZZ_CHECK(compact(format, other) == before[other]);
        }
        FUZZ_CHECK(compact(format, kAbsent).empty());
        return;
    }
    std::vector<std::uint8_t> form = compact(format, id);
    checkAgainstSelector(format, record, form);

    // Re-parsing the compact form gives it back.
    store(format, kScratch, form);
    FUZZ_CHECK(compact(format, kScratch) == form);
    checkVisibility(format);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::quietProcess();
    for (int id = 0; id <= kPlayers; ++id) {
        sockaddr_in from = fuzz::address(10, 0, 0, static_cast<std::uint8_t>(id + 1), 5000);
        FUZZ_CHECK(players().addPlayer(&from, "p", 0) == id);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    for (auto& entry : players().getPlayerMap()) entry.second.gameState = GameState{};
    delete VehicleList::getInstance();

    fuzz::FuzzInput input(data, size);
    const Format& format = (input.u8() & 1) != 0 ? kGtaVc : kGta3;
    while (!input.empty()) {
        int who = input.u8() & 3;
        checkRecord(format, who, input.record(kMaxDatagramSize));
    }
    return 0;
}
