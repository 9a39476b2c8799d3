// Parsing state records, building the compact form and the visibility test: the per-report
// work of the relay apart from the fan-out.

#include <benchmark/benchmark.h>

#include <array>

#include "BenchSupport.h"
#include "game/PlayerList.h"

namespace {

// A table of its own (not the game players' singleton) holding two players.
class TwoPlayers {
public:
    TwoPlayers() {
        Log::getInstance()->setConsole(nullptr);
        const sockaddr_in first = bench::playerAddress(0);
        const sockaddr_in second = bench::playerAddress(1);
        m_first = m_list.addPlayer(&first, "First", 0);
        m_second = m_list.addPlayer(&second, "Second", 0);
    }

    bool ok() const { return m_first >= 0 && m_second >= 0; }
    PlayerList& list() { return m_list; }
    int first() const { return m_first; }
    int second() const { return m_second; }

private:
    PlayerList m_list;
    int m_first = -1;
    int m_second = -1;
};

enum RecordKind { kOnFoot = 0, kDriver = 1 };

const char* kindLabel(int kind) {
    return kind == kOnFoot ? "on foot, 20 bytes" : "driver, 18 bytes";
}

// Stores the same record again and again: after the first turn the vehicle exists, as in a
// running game where a driver reports many times a second.
template <void (PlayerList::*Store)(int, const unsigned char*, int)>
void storeRecord(benchmark::State& state, unsigned char positionTag) {
    TwoPlayers players;
    if (!players.ok()) return state.SkipWithError("no key for the players");
    const int kind = static_cast<int>(state.range(0));
    const auto onFoot = bench::onFootRecord(100.0f, 200.0f);
    const auto driver = bench::driverRecord(5, positionTag, 100.0f, 200.0f);
    const unsigned char* record = kind == kOnFoot ? onFoot.data() : driver.data();
    const int length =
        kind == kOnFoot ? static_cast<int>(onFoot.size()) : static_cast<int>(driver.size());
    PlayerList& list = players.list();
    const int id = players.first();
    for (auto _ : state) {
        benchmark::DoNotOptimize(record);
        (list.*Store)(id, record, length);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * length);
    state.SetItemsProcessed(state.iterations());
    state.SetLabel(kindLabel(kind));
}

void BM_StoreGTA3PlayerData(benchmark::State& state) {
    storeRecord<&PlayerList::storeGTA3PlayerData>(state, bench::kGta3VehiclePositionTag);
}
BENCHMARK(BM_StoreGTA3PlayerData)->Arg(kOnFoot)->Arg(kDriver);

void BM_StoreGTAVCPlayerData(benchmark::State& state) {
    storeRecord<&PlayerList::storeGTAVCPlayerData>(state, bench::kGtaVcVehiclePositionTag);
}
BENCHMARK(BM_StoreGTAVCPlayerData)->Arg(kOnFoot)->Arg(kDriver);

void BM_GetGTA3PlayerGameDataPacketTiny(benchmark::State& state) {
    TwoPlayers players;
    if (!players.ok()) return state.SkipWithError("no key for the players");
    const int kind = static_cast<int>(state.range(0));
    PlayerList& list = players.list();
    const int id = players.first();
    if (kind == kOnFoot) {
        const auto record = bench::onFootRecord(100.0f, 200.0f);
        list.storeGTA3PlayerData(id, record.data(), static_cast<int>(record.size()));
    } else {
        const auto record = bench::driverRecord(5, bench::kGta3VehiclePositionTag, 100.0f, 200.0f);
        list.storeGTA3PlayerData(id, record.data(), static_cast<int>(record.size()));
    }
    std::array<unsigned char, 32> buffer{};
    int position = 0;
    for (auto _ : state) {
        position = 2;
        const int built = list.getGTA3PlayerGameDataPacketTiny(id, buffer.data(), &position);
        benchmark::DoNotOptimize(built);
        benchmark::DoNotOptimize(buffer.data());
        benchmark::ClobberMemory();
    }
    const int expected = kind == kOnFoot ? 20 : 18;
    if (position - 2 != expected) state.SkipWithError("unexpected compact size");
    state.SetBytesProcessed(state.iterations() * (position - 2));
    state.SetItemsProcessed(state.iterations());
    state.SetLabel(kind == kOnFoot ? "on foot, 20 bytes" : "driver, 18 bytes");
}
BENCHMARK(BM_GetGTA3PlayerGameDataPacketTiny)->Arg(kOnFoot)->Arg(kDriver);

// Arg 0: the two players 50 apart (visible); 1: 1000 apart (not visible). The second player
// drives, so one side of the test goes through the vehicle record.
void BM_IsPlayerVisible(benchmark::State& state) {
    TwoPlayers players;
    if (!players.ok()) return state.SkipWithError("no key for the players");
    const bool far = state.range(0) == 1;
    PlayerList& list = players.list();
    const auto onFoot = bench::onFootRecord(0.0f, 0.0f);
    const auto driver =
        bench::driverRecord(7, bench::kGta3VehiclePositionTag, far ? 1000.0f : 50.0f, 0.0f);
    list.storeGTA3PlayerData(players.first(), onFoot.data(), static_cast<int>(onFoot.size()));
    list.storeGTA3PlayerData(players.second(), driver.data(), static_cast<int>(driver.size()));
    int idA = players.first();
    int idB = players.second();
    bool visible = false;
    for (auto _ : state) {
        benchmark::DoNotOptimize(idA);
        benchmark::DoNotOptimize(idB);
        visible = list.isPlayerVisible(idA, idB);
        benchmark::DoNotOptimize(visible);
    }
    if (visible == far) state.SkipWithError("unexpected visibility");
    state.SetItemsProcessed(state.iterations());
    state.SetLabel(far ? "1000 apart, not visible" : "50 apart, visible");
}
BENCHMARK(BM_IsPlayerVisible)->Arg(0)->Arg(1);

}  // namespace
