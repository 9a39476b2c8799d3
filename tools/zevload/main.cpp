// zevload: plays scripted players against the game server, or against the floor (a bare fan-out
// relay of our own), and reports lost copies, relay latency and the relay's CPU time per
// delivered copy; or runs the soak (Soak.h). See Options.cpp for the command line.
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "FloorRelay.h"
#include "Generator.h"
#include "Options.h"
#include "ProcStat.h"
#include "Report.h"
#include "ServerLauncher.h"
#include "Soak.h"

namespace {

using namespace zevload;

constexpr int kJoinTimeoutMs = 5000;
constexpr double kStepWarmup = 1.0;
// The bisection stops once the lossy rate is within this factor of the clean one.
constexpr double kFindMaxResolution = 1.1;

struct Target {
    const char* mode;
    int port;
    pid_t pid;
    bool floor;
};

struct Outcome {
    Figures figures;
    double maxRate = -1.0;
};

// The histogram is large and reused, so it lives outside the stack.
RunResult g_result;

bool playOnce(Generator& generator, const Options& options, const Target& target, double rate,
              double warmup, double duration, Figures* figures) {
    g_result = RunResult{};
    RunParams params{rate, warmup, duration, options.drain, target.pid};
    if (!generator.run(params, &g_result)) {
        std::fprintf(stderr, "zevload: the %s run failed (timer or epoll error)\n", target.mode);
        return false;
    }
    *figures = figuresOf(target.mode, options.players, rate, duration, g_result);
    printLine(*figures);
    return true;
}

bool isClean(const Figures& figures) {
    return figures.lost == 0 && figures.delivered > 0 && figures.removedPlayers == 0;
}

// Doubles the rate until a step loses copies, then bisects between the last clean rate and the
// first lossy one, within the time budget. Returns the highest clean rate (0 when none was).
bool findMax(Generator& generator, const Options& options, const Target& target, double* best) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    double deadline = static_cast<double>(now.tv_sec) + options.budget;
    double stepTime = kStepWarmup + options.stepDuration + 0.5;
    double rate = options.rate;
    double lossy = 0.0;
    *best = 0.0;
    int steps = 0;
    while (true) {
        clock_gettime(CLOCK_MONOTONIC, &now);
        if (static_cast<double>(now.tv_sec) + stepTime > deadline) break;
        Figures figures;
        if (!playOnce(generator, options, target, rate, kStepWarmup, options.stepDuration,
                      &figures)) {
            return false;
        }
        ++steps;
        // A step that overloaded the relay leaves a backlog; let it clear before the next.
        generator.settle(300, 3000);
        if (isClean(figures)) {
            *best = rate;
        } else {
            lossy = rate;
        }
        if (lossy == 0.0) {
            rate *= 2.0;
        } else if (*best > 0.0 && lossy / *best <= kFindMaxResolution) {
            break;
        } else {
            rate = *best > 0.0 ? (*best + lossy) / 2.0 : lossy / 2.0;
        }
    }
    double copies = *best * options.players * (options.players - 1);
    std::printf("mode=%s find_max=1 players=%d max_rate=%g copies_per_s=%.0f steps=%d\n",
                target.mode, options.players, *best, copies, steps);
    std::fflush(stdout);
    return true;
}

bool playAgainst(const Options& options, const Target& target, Outcome* outcome) {
    Generator generator;
    GeneratorSetup setup{options.players, options.addressBase, target.port, target.floor};
    if (!generator.open(setup)) return false;
    if (!generator.join(kJoinTimeoutMs)) {
        generator.quit();
        return false;
    }
    // Let the join traffic (announcements, the first pings) pass before measuring.
    generator.settle(200, 2000);
    bool ok = options.findMax ? findMax(generator, options, target, &outcome->maxRate)
                              : playOnce(generator, options, target, options.rate, options.warmup,
                                         options.duration, &outcome->figures);
    generator.quit();
    return ok;
}

bool playAgainstFloor(const Options& options, Outcome* outcome) {
    FloorRelay relay;
    if (!startFloorRelay(options.relayCpu, &relay)) return false;
    Target target{"floor", relay.port, relay.pid, true};
    bool ok = playAgainst(options, target, outcome);
    stopFloorRelay(&relay);
    return ok;
}

int runIdle(const Options& options, pid_t pid) {
    std::int64_t cpuBefore = readProcessCpuMicros(pid);
    std::int64_t scheduledBefore = readScheduledCpuNanos(pid);
    std::int64_t switchesBefore = readContextSwitches(pid);
    timespec pause{
        static_cast<time_t>(options.idle),
        static_cast<long>((options.idle - static_cast<double>(static_cast<time_t>(options.idle))) *
                          1e9)};
    nanosleep(&pause, nullptr);
    std::int64_t cpuAfter = readProcessCpuMicros(pid);
    std::int64_t scheduledAfter = readScheduledCpuNanos(pid);
    std::int64_t switchesAfter = readContextSwitches(pid);
    if (cpuBefore < 0 || cpuAfter < 0 || switchesBefore < 0 || switchesAfter < 0) {
        std::fprintf(stderr, "zevload: cannot read /proc/%d (is the server running?)\n",
                     static_cast<int>(pid));
        return 1;
    }
    double cpu = static_cast<double>(cpuAfter - cpuBefore) / options.idle;
    double scheduled =
        scheduledBefore >= 0 && scheduledAfter >= 0
            ? static_cast<double>(scheduledAfter - scheduledBefore) / 1000.0 / options.idle
            : -1.0;
    double wakeups = static_cast<double>(switchesAfter - switchesBefore) / options.idle;
    std::printf(
        "mode=idle seconds=%g cpu_us_per_s=%.1f sched_cpu_us_per_s=%.1f "
        "wakeups_per_s=%.2f\n",
        options.idle, cpu, scheduled, wakeups);
    if (options.table) {
        std::printf("\nidle server over %g s\n%-24s %12.1f\n%-24s %12.1f\n%-24s %12.2f\n",
                    options.idle, "cpu_us_per_s (stat)", cpu, "cpu_us_per_s (schedstat)", scheduled,
                    "wakeups_per_s", wakeups);
    }
    return 0;
}

void printMaxTable(const Options& options, double serverMax, double floorMax) {
    std::printf("\n%d players, highest rate without loss\n%-20s %12s %12s %12s\n", options.players,
                "figure", "server", "floor", "ratio");
    double perRate = static_cast<double>(options.players) * (options.players - 1);
    for (double scale : {1.0, perRate}) {
        std::printf("%-20s", scale == 1.0 ? "max_rate_hz" : "copies_per_s");
        for (double value : {serverMax, floorMax}) {
            if (value < 0) {
                std::printf(" %12s", "");
            } else {
                std::printf(" %12.0f", value * scale);
            }
        }
        if (serverMax >= 0 && floorMax > 0) {
            std::printf(" %12.2f\n", serverMax / floorMax);
        } else {
            std::printf(" %12s\n", "-");
        }
    }
}

// Other work on the machine shows up as latency and lost copies; say so next to the figures.
void warnWhenBusy() {
    double load = 0.0;
    long cpus = sysconf(_SC_NPROCESSORS_ONLN);
    if (getloadavg(&load, 1) == 1 && cpus > 0 && load > static_cast<double>(cpus) * 0.75) {
        std::fprintf(stderr,
                     "zevload: warning: the machine is busy (load %.1f on %ld CPUs); expect "
                     "noisy figures\n",
                     load, cpus);
    }
}

int playAll(const Options& options, const Target& server, LaunchedServer* launched) {
    Outcome serverOutcome;
    Outcome floorOutcome;
    bool againstServer = !options.floor;
    bool againstFloor = options.floor || options.withFloor;
    if (againstServer && !playAgainst(options, server, &serverOutcome)) return 1;
    // The floor must not share the machine with a server that still runs its housekeeping.
    stopServer(launched);
    if (againstFloor && !playAgainstFloor(options, &floorOutcome)) return 1;
    if (!options.table) return 0;
    if (options.findMax) {
        printMaxTable(options, againstServer ? serverOutcome.maxRate : -1.0,
                      againstFloor ? floorOutcome.maxRate : -1.0);
    } else {
        printTable(againstServer ? &serverOutcome.figures : nullptr,
                   againstFloor ? &floorOutcome.figures : nullptr);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    std::string error;
    bool parsed = parseOptions(argc, argv, &options, &error);
    applySoakDefaults(&options);
    if (!parsed || (!options.help && !validateOptions(options, &error))) {
        std::fprintf(stderr, "zevload: %s\n%s", error.c_str(), kUsage);
        return 2;
    }
    if (options.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (options.soak) return runSoak(options);
    LaunchedServer launched;
    Target server{"server", options.serverPort, options.serverPid, false};
    if (!options.serverBinary.empty()) {
        if (!launchServer(options.serverBinary, options.serverCpu, &launched)) return 1;
        server.port = launched.port;
        server.pid = launched.pid;
    }
    // Pinned after the server starts, which sets its own CPU; the floor relay sets its own too.
    if (options.generatorCpu >= 0 && !pinToCpu(options.generatorCpu)) {
        std::fprintf(stderr, "zevload: cannot pin the generator to CPU %d\n", options.generatorCpu);
        stopServer(&launched);
        return 1;
    }
    warnWhenBusy();
    int status =
        options.idle > 0 ? runIdle(options, server.pid) : playAll(options, server, &launched);
    stopServer(&launched);
    return status;
}
