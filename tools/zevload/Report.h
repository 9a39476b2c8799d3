// The figures of a run, as one key=value line for scripts and as a table for people.
#pragma once

#include <cstdint>

#include "Generator.h"

namespace zevload {

struct Figures {
    const char* mode = "server";
    int players = 0;
    double rate = 0.0;
    double duration = 0.0;
    std::uint64_t expected = 0;
    std::uint64_t delivered = 0;
    std::int64_t lost = 0;
    double p50Us = 0.0;
    double p99Us = 0.0;
    double maxUs = 0.0;
    // Negative when unknown.
    double cpuUsPerCopy = -1.0;
    double generatorCpuUsPerCopy = -1.0;
    std::uint64_t sent = 0;
    std::uint64_t lateSends = 0;
    double maxSendLagUs = 0.0;
    int removedPlayers = 0;
    std::uint64_t sendErrors = 0;
    std::uint64_t pingsAnswered = 0;
    // Datagrams that did not open, and state records that were not ours.
    std::uint64_t unparsed = 0;
};

Figures figuresOf(const char* mode, int players, double rate, double duration,
                  const RunResult& result);

void printLine(const Figures& figures);

// One column per non-null run, and the ratio server / floor when both are given.
void printTable(const Figures* server, const Figures* floor);

}  // namespace zevload
