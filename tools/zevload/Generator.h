// The scripted players: one UDP socket per player on its own loopback address, one thread, one
// epoll set over the sockets and a timer. Players join, then send on-foot state reports on a
// fixed schedule, answer the server's pings and client checks, and measure every relayed copy
// of every other player's report.
#pragma once

#include <sys/socket.h>
#include <sys/types.h>

#include <cstdint>
#include <vector>

#include "LatencyHistogram.h"
#include "net/CRijndael.h"

namespace zevload {

struct GeneratorSetup {
    int players = 32;
    // Player i sends from 127.0.(addressBase + i / 250).(1 + i % 250).
    int addressBase = 1;
    int targetPort = 0;
    // Against the floor relay: registration instead of the join handshake, and every player
    // keeps the general key (see FloorRelay.h for why the cipher stays).
    bool floor = false;
};

struct RunParams {
    double rate = 30.0;
    double warmup = 2.0;
    double duration = 20.0;
    double drain = 0.5;
    // The relay process whose CPU time is measured; -1 for none.
    pid_t measuredPid = -1;
};

struct RunResult {
    std::uint64_t sent = 0;
    std::uint64_t sentInWindow = 0;
    std::uint64_t expected = 0;
    std::uint64_t delivered = 0;
    // Copies of our records outside the window, and datagrams that were none of ours.
    std::uint64_t outsideWindow = 0;
    std::uint64_t foreign = 0;
    std::uint64_t unopened = 0;
    std::uint64_t sendErrors = 0;
    // Sends more than a millisecond behind their slot, and the worst lag.
    std::uint64_t lateSends = 0;
    std::uint64_t maxSendLagNanos = 0;
    std::uint64_t pingsAnswered = 0;
    int removedPlayers = 0;
    double windowSeconds = 0.0;
    // CPU time over the window; -1 when not measured.
    std::int64_t relayCpuMicros = -1;
    std::int64_t generatorCpuMicros = -1;
    LatencyHistogram latency;
};

class Generator {
public:
    Generator() = default;
    ~Generator();
    Generator(const Generator&) = delete;
    Generator& operator=(const Generator&) = delete;

    // Opens the sockets, the epoll set and the timer. False with a message on stderr.
    bool open(const GeneratorSetup& setup);
    // Joins every player (or registers it with the floor relay). False with a message when not
    // all are in within `timeoutMs`.
    bool join(int timeoutMs);
    // One timed run. False only on a system failure.
    bool run(const RunParams& params, RunResult* result);
    // Reads (and answers pings) until nothing has arrived for `quietMs`, at most `maxMs`, so
    // that a backlog of one run does not spill into the next.
    void settle(int quietMs, int maxMs);
    // Tells the server that every joined player leaves.
    void quit();

    int joinedCount() const;

private:
    struct Player {
        int fd = -1;
        int index = 0;
        int id = -1;
        bool joined = false;
        bool removed = false;
        int refusal = -1;
        char nick[16] = {};
        int nickLength = 0;
        std::uint32_t sequence = 0;
        float x = 0.0f;
        float y = 0.0f;
        CRijndael cipher;
    };

    // Reports of records sent in [start, end) are the ones counted.
    struct Window {
        std::uint64_t start = 0;
        std::uint64_t end = 0;
        RunResult* result = nullptr;
    };

    // Slot k belongs to player k mod N and is due at start + k * slotNanos.
    struct Schedule {
        std::uint64_t start = 0;
        std::uint64_t end = 0;
        double slotNanos = 0.0;
        std::uint64_t slot = 0;
        // 0 before the window, 1 inside, 2 after it.
        int phase = 0;
        bool done = false;
        pid_t measuredPid = -1;
        std::int64_t relayCpuStart = -1;
        std::int64_t ownCpuStart = 0;

        std::uint64_t due() const {
            return start + static_cast<std::uint64_t>(static_cast<double>(slot) * slotNanos);
        }
    };

    static constexpr int kBatch = 32;
    static constexpr int kBufferSize = 2048;

    bool openPlayer(Player& player);
    bool armTimer(std::uint64_t atNanos);
    // Sends what is due, reads the CPU clocks at the window's edges and re-arms the timer.
    // False when the run is over (or the timer failed).
    bool onTimer(Schedule& schedule);
    void drainSocket(Player& player);
    void handleDatagram(Player& player, const unsigned char* data, int length, std::uint64_t now);
    // Explains on stderr why players are missing after join().
    void reportRefusals() const;
    void handleJoinAnswer(Player& player, const unsigned char* data, int length);
    void sendSealed(Player& player, const unsigned char* data, int length);
    void sendReport(Player& player);

    GeneratorSetup m_setup;
    std::vector<Player> m_players;
    CRijndael m_generalCipher;
    int m_epoll = -1;
    int m_timer = -1;
    Window m_window;

    unsigned char m_buffers[kBatch][kBufferSize] = {};
    iovec m_vectors[kBatch] = {};
    mmsghdr m_messages[kBatch] = {};
};

std::uint64_t monotonicNanos();

}  // namespace zevload
