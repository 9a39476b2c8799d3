#include "Report.h"

#include <cmath>
#include <cstdio>
#include <limits>

namespace zevload {

namespace {

double perCopy(std::int64_t micros, std::uint64_t copies) {
    if (micros < 0 || copies == 0) return std::numeric_limits<double>::quiet_NaN();
    return static_cast<double>(micros) / static_cast<double>(copies);
}

void printCpu(const char* key, double value) {
    if (std::isnan(value)) {
        std::printf(" %s=na", key);
    } else {
        std::printf(" %s=%.3f", key, value);
    }
}

struct Row {
    const char* name;
    double server;
    double floor;
    int decimals;
};

void printCell(double value, int decimals, bool present) {
    if (!present) {
        std::printf(" %12s", "");
    } else if (std::isnan(value)) {
        std::printf(" %12s", "na");
    } else {
        std::printf(" %12.*f", decimals, value);
    }
}

}  // namespace

Figures figuresOf(const char* mode, int players, double rate, double duration,
                  const RunResult& result) {
    Figures figures;
    figures.mode = mode;
    figures.players = players;
    figures.rate = rate;
    figures.duration = duration;
    figures.expected = result.expected;
    figures.delivered = result.delivered;
    figures.lost =
        static_cast<std::int64_t>(result.expected) - static_cast<std::int64_t>(result.delivered);
    figures.p50Us = static_cast<double>(result.latency.percentileNanos(0.50)) / 1000.0;
    figures.p99Us = static_cast<double>(result.latency.percentileNanos(0.99)) / 1000.0;
    figures.maxUs = static_cast<double>(result.latency.maxNanos()) / 1000.0;
    figures.cpuUsPerCopy = perCopy(result.relayCpuMicros, result.delivered);
    figures.generatorCpuUsPerCopy = perCopy(result.generatorCpuMicros, result.delivered);
    figures.sent = result.sent;
    figures.lateSends = result.lateSends;
    figures.maxSendLagUs = static_cast<double>(result.maxSendLagNanos) / 1000.0;
    figures.removedPlayers = result.removedPlayers;
    figures.sendErrors = result.sendErrors;
    figures.pingsAnswered = result.pingsAnswered;
    figures.unparsed = result.unopened + result.foreign;
    return figures;
}

void printLine(const Figures& f) {
    std::printf(
        "mode=%s players=%d rate=%g duration=%g expected=%llu delivered=%llu lost=%lld "
        "p50_us=%.1f p99_us=%.1f max_us=%.1f",
        f.mode, f.players, f.rate, f.duration, static_cast<unsigned long long>(f.expected),
        static_cast<unsigned long long>(f.delivered), static_cast<long long>(f.lost), f.p50Us,
        f.p99Us, f.maxUs);
    printCpu("cpu_us_per_copy", f.cpuUsPerCopy);
    std::printf(" sent=%llu", static_cast<unsigned long long>(f.sent));
    printCpu("gen_cpu_us_per_copy", f.generatorCpuUsPerCopy);
    std::printf(
        " late_sends=%llu max_send_lag_us=%.0f removed=%d send_errors=%llu pings_answered=%llu "
        "unparsed=%llu\n",
        static_cast<unsigned long long>(f.lateSends), f.maxSendLagUs, f.removedPlayers,
        static_cast<unsigned long long>(f.sendErrors),
        static_cast<unsigned long long>(f.pingsAnswered),
        static_cast<unsigned long long>(f.unparsed));
    std::fflush(stdout);
}

void printTable(const Figures* server, const Figures* floor) {
    const Figures empty;
    const Figures& s = server != nullptr ? *server : empty;
    const Figures& f = floor != nullptr ? *floor : empty;
    const Figures& any = server != nullptr ? s : f;
    std::printf("\n%d players x %g Hz, %g s runs\n", any.players, any.rate, any.duration);
    std::printf("%-20s %12s %12s %12s\n", "figure", "server", "floor", "ratio");
    const Row rows[] = {
        {"expected", static_cast<double>(s.expected), static_cast<double>(f.expected), 0},
        {"delivered", static_cast<double>(s.delivered), static_cast<double>(f.delivered), 0},
        {"lost", static_cast<double>(s.lost), static_cast<double>(f.lost), 0},
        {"p50_us", s.p50Us, f.p50Us, 1},
        {"p99_us", s.p99Us, f.p99Us, 1},
        {"max_us", s.maxUs, f.maxUs, 1},
        {"cpu_us_per_copy", s.cpuUsPerCopy, f.cpuUsPerCopy, 3},
        {"gen_cpu_us_per_copy", s.generatorCpuUsPerCopy, f.generatorCpuUsPerCopy, 3},
    };
    for (const Row& row : rows) {
        std::printf("%-20s", row.name);
        printCell(row.server, row.decimals, server != nullptr);
        printCell(row.floor, row.decimals, floor != nullptr);
        if (server != nullptr && floor != nullptr && row.floor > 0 && !std::isnan(row.server)) {
            std::printf(" %12.2f", row.server / row.floor);
        } else {
            std::printf(" %12s", "-");
        }
        std::printf("\n");
    }
    std::fflush(stdout);
}

}  // namespace zevload
