// The relay of one player's state to everyone else: 32 joined players, so 31 sealed copies of
// every report, sent to an endpoint that only counts.

#include <benchmark/benchmark.h>

#include <array>
#include <cstring>
#include <memory>

#include "BenchSupport.h"
#include "game/GameSession.h"
#include "game/PlayerList.h"
#include "net/Envelope.h"

namespace {

constexpr int kPlayers = 32;
constexpr int kReceivers = kPlayers - 1;
constexpr int kSenderVehicle = 5;

// The sender drives vehicle 5 at (0, 0), then five small tagged values and two words: 38 bytes.
// Sent as [10, sender, record], 40 bytes.
constexpr int kRecordSize = 38;
constexpr int kPacketSize = kRecordSize + 2;
static_assert(envelopeSize(kPacketSize) == 48);

std::array<unsigned char, kRecordSize> senderRecord() {
    std::array<unsigned char, kRecordSize> record{};
    const auto driver =
        bench::driverRecord(kSenderVehicle, bench::kGta3VehiclePositionTag, 0.0f, 0.0f);
    std::memcpy(record.data(), driver.data(), driver.size());
    std::size_t i = driver.size();
    for (unsigned char tag = 2; tag <= 6; ++tag) {
        record[i++] = tag;
        record[i++] = static_cast<unsigned char>(tag + 1);
    }
    for (unsigned char tag = 7; tag <= 8; ++tag) {
        record[i++] = tag;
        bench::putFloat(&record[i], 9.0f);
        i += 4;
    }
    return record;
}

// A GameSession over the game players' table with 32 players joined; player 0 sends. Receivers
// with an even id (15 of 31) stand at (2000, 2000), out of the sender's sight; the others stand
// at (10, 10).
class RelayFixture {
public:
    RelayFixture() {
        bench::setUpQuietSession(kPlayers);
        m_game = std::make_unique<bench::CountingEndpoint>();
        m_admin = std::make_unique<bench::CountingEndpoint>();
        m_session = std::make_unique<GameSession>(*m_game, *m_admin);
        PlayerList* players = PlayerList::getInstance();
        for (int index = 0; index < kPlayers; ++index) {
            const sockaddr_in address = bench::playerAddress(index);
            const int id = players->addPlayer(&address, "Player", 0);
            if (id != index) return;
            if (index == 0) continue;
            const float away = index % 2 == 0 ? 2000.0f : 10.0f;
            const auto record = bench::onFootRecord(away, away);
            players->storeGTA3PlayerData(id, record.data(), static_cast<int>(record.size()));
        }
        m_record = senderRecord();
        players->storeGTA3PlayerData(0, m_record.data(), kRecordSize);
        m_packet[0] = 10;
        m_packet[1] = 0;
        std::memcpy(m_packet.data() + 2, m_record.data(), kRecordSize);
        m_ready = players->getPlayerConnectedCount() == kPlayers;
    }

    ~RelayFixture() {
        m_session.reset();
        delete PlayerList::getInstance();
    }

    RelayFixture(const RelayFixture&) = delete;
    RelayFixture& operator=(const RelayFixture&) = delete;

    bool ready() const { return m_ready; }
    GameSession& session() { return *m_session; }
    const bench::CountingEndpoint& game() const { return *m_game; }
    const unsigned char* packet() const { return m_packet.data(); }
    const unsigned char* record() const { return m_record.data(); }

private:
    std::unique_ptr<bench::CountingEndpoint> m_game;
    std::unique_ptr<bench::CountingEndpoint> m_admin;
    std::unique_ptr<GameSession> m_session;
    std::array<unsigned char, kRecordSize> m_record{};
    std::array<unsigned char, kPacketSize> m_packet{};
    bool m_ready = false;
};

// Items are copies sent (31 per report); bytes are the sealed bytes handed to the endpoint.
void reportCopies(benchmark::State& state, const bench::CountingEndpoint& game) {
    if (game.datagrams != state.iterations() * kReceivers) {
        state.SkipWithError("the relay did not reach every receiver once");
    }
    state.SetItemsProcessed(game.datagrams);
    state.SetBytesProcessed(game.bytes);
    state.counters["sealed_bytes_per_report"] = benchmark::Counter(
        static_cast<double>(game.bytes) / static_cast<double>(state.iterations()));
}

// Arg 0: useVisibility false, every receiver gets the 40-byte packet (48 sealed). Arg 1: true,
// the 15 far receivers get the 20-byte compact form (32 sealed) instead.
void BM_BroadcastGameData(benchmark::State& state) {
    RelayFixture fixture;
    if (!fixture.ready()) return state.SkipWithError("could not join 32 players");
    const bool useVisibility = state.range(0) == 1;
    GameSession& session = fixture.session();
    const unsigned char* packet = fixture.packet();
    for (auto _ : state) {
        benchmark::DoNotOptimize(packet);
        session.broadcastGameData(packet, kPacketSize, 0, 0, useVisibility);
        benchmark::ClobberMemory();
    }
    reportCopies(state, fixture.game());
    state.SetLabel(useVisibility ? "visibility, 15 of 31 far" : "no visibility");
}
BENCHMARK(BM_BroadcastGameData)->Arg(0)->Arg(1);

// The whole handling of one report as it arrives: the sender looked up by address, its record
// stored, then the relay with visibility (the sender drives).
void BM_ProcessStateReport(benchmark::State& state) {
    RelayFixture fixture;
    if (!fixture.ready()) return state.SkipWithError("could not join 32 players");
    GameSession& session = fixture.session();
    const sockaddr_in from = bench::playerAddress(0);
    const unsigned char* payload = fixture.record();
    for (auto _ : state) {
        benchmark::DoNotOptimize(payload);
        session.processCommand(10, payload, &from, kRecordSize + 1);
        benchmark::ClobberMemory();
    }
    reportCopies(state, fixture.game());
}
BENCHMARK(BM_ProcessStateReport);

}  // namespace
