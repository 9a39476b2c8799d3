#include "Options.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "core/Number.h"

namespace zevload {

const char* const kUsage =
    "usage: zevload [target] [load] [--table]\n"
    "target, one of:\n"
    "  --server-port P          a running server on 127.0.0.1:P (--server-pid PID for its CPU)\n"
    "  --server-binary PATH     start that server (temporary configuration, Portland, 32\n"
    "                           players, free port), pinned with --server-cpu K; stopped at the "
    "end\n"
    "  --floor                  a bare UDP fan-out relay of our own, pinned with --relay-cpu K\n"
    "  --with-floor             after the server run, the same run against the floor, with ratios\n"
    "load:\n"
    "  --players N (32) --rate HZ (30) --duration S (20) --warmup S (2) --drain S (0.5)\n"
    "  --generator-cpu K        pin the generator\n"
    "  --address-base X         players send from 127.0.X.1 upwards (1)\n"
    "  --find-max               raise the rate until copies are lost; report the highest rate\n"
    "                           without loss (--budget S, 60; --step-duration S, 3)\n"
    "  --idle S                 no players: the server's CPU and wake-ups over S seconds\n"
    "  --soak                   soak run against --server-binary (see docs/soak.md): scripted\n"
    "                           players, chat, deaths, money, skins, rejoins, a level-2 admin\n"
    "                           and status queries, judged at the end; --duration S (300),\n"
    "                           --rate HZ (20), --warmup S (60: memory baseline), --seed N (1),\n"
    "                           --rss-report-only, --keep (keep the server's directory)\n"
    "output: one key=value line per run; --table adds a table. --soak prints a summary.\n"
    "exit: 0 when the runs completed (loss is a figure, not a failure), 1 on setup failures,\n"
    "2 on a bad command line; --soak: 0 only when every criterion passed.\n";

namespace {

bool toDouble(const char* text, double low, double high, double* out) {
    char* end = nullptr;
    errno = 0;
    double value = std::strtod(text, &end);
    if (errno != 0 || end == text || *end != '\0' || !(value >= low && value <= high)) {
        return false;
    }
    *out = value;
    return true;
}

struct Flag {
    const char* name;
    bool Options::*member;
};

struct IntOption {
    const char* name;
    int Options::*member;
    long low;
    long high;
};

struct DoubleOption {
    const char* name;
    double Options::*member;
    double low;
    double high;
};

constexpr Flag kFlags[] = {
    {"--floor", &Options::floor},      {"--with-floor", &Options::withFloor},
    {"--find-max", &Options::findMax}, {"--table", &Options::table},
    {"--help", &Options::help},        {"-h", &Options::help},
    {"--soak", &Options::soak},        {"--rss-report-only", &Options::rssReportOnly},
    {"--keep", &Options::keep},
};

constexpr IntOption kIntOptions[] = {
    {"--server-port", &Options::serverPort, 1, 65535},
    {"--server-cpu", &Options::serverCpu, 0, 4095},
    {"--generator-cpu", &Options::generatorCpu, 0, 4095},
    {"--relay-cpu", &Options::relayCpu, 0, 4095},
    {"--players", &Options::players, 2, 1000},
    {"--address-base", &Options::addressBase, 1, 254},
    {"--seed", &Options::seed, 0, 0x7FFFFFFF},
};

constexpr DoubleOption kDoubleOptions[] = {
    {"--rate", &Options::rate, 0.1, 100000.0},
    {"--duration", &Options::duration, 0.2, 86400.0},
    {"--warmup", &Options::warmup, 0.0, 600.0},
    {"--drain", &Options::drain, 0.0, 60.0},
    {"--budget", &Options::budget, 1.0, 3600.0},
    {"--step-duration", &Options::stepDuration, 0.5, 600.0},
    {"--idle", &Options::idle, 0.1, 3600.0},
};

bool isFlag(const char* name) {
    for (const Flag& flag : kFlags) {
        if (std::strcmp(name, flag.name) == 0) return true;
    }
    return false;
}

bool isValueOption(const char* name) {
    for (const IntOption& option : kIntOptions) {
        if (std::strcmp(name, option.name) == 0) return true;
    }
    for (const DoubleOption& option : kDoubleOptions) {
        if (std::strcmp(name, option.name) == 0) return true;
    }
    return std::strcmp(name, "--server-pid") == 0 || std::strcmp(name, "--server-binary") == 0;
}

void setFlag(const char* name, Options* options) {
    for (const Flag& flag : kFlags) {
        if (std::strcmp(name, flag.name) == 0) options->*flag.member = true;
    }
}

// Applies "name value" for a name that isValueOption accepts. False with the reason in `error`.
bool setValue(const char* name, const char* value, Options* options, std::string* error) {
    bool good = false;
    if (std::strcmp(name, "--server-pid") == 0) {
        int pid = 0;
        good = parseIntInRange(value, 1, 0x7FFFFFFF, &pid);
        options->serverPid = pid;
    } else if (std::strcmp(name, "--server-binary") == 0) {
        options->serverBinary = value;
        good = !options->serverBinary.empty();
    }
    for (const IntOption& option : kIntOptions) {
        if (std::strcmp(name, option.name) == 0) {
            good = parseIntInRange(value, option.low, option.high, &(options->*option.member));
        }
    }
    for (const DoubleOption& option : kDoubleOptions) {
        if (std::strcmp(name, option.name) == 0) {
            good = toDouble(value, option.low, option.high, &(options->*option.member));
        }
    }
    if (!good) *error = std::string("bad value for ") + name + ": " + value;
    if (good) options->given.emplace_back(name);
    return good;
}

}  // namespace

bool parseOptions(int argc, char** argv, Options* options, std::string* error) {
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i];
        const char* value = nullptr;
        std::size_t equals = name.find('=');
        if (equals != std::string::npos) {
            name.resize(equals);
            value = argv[i] + equals + 1;
        }
        if (isFlag(name.c_str())) {
            if (value != nullptr) {
                *error = "option " + name + " takes no value";
                return false;
            }
            setFlag(name.c_str(), options);
            continue;
        }
        if (!isValueOption(name.c_str())) {
            *error = "unknown option " + name;
            return false;
        }
        if (value == nullptr && i + 1 < argc) value = argv[++i];
        if (value == nullptr) {
            *error = "option " + name + " needs a value";
            return false;
        }
        if (!setValue(name.c_str(), value, options, error)) return false;
    }
    return true;
}

bool Options::wasGiven(const char* name) const {
    for (const std::string& option : given) {
        if (option == name) return true;
    }
    return false;
}

void applySoakDefaults(Options* options) {
    if (!options->soak) return;
    if (!options->wasGiven("--duration")) options->duration = 300.0;
    if (!options->wasGiven("--rate")) options->rate = 20.0;
    if (!options->wasGiven("--warmup")) options->warmup = 60.0;
}

namespace {

bool validateSoak(const Options& options, std::string* error) {
    if (options.serverBinary.empty()) {
        *error = "--soak starts the server itself: give --server-binary";
    } else if (options.floor || options.withFloor || options.findMax || options.idle > 0) {
        *error = "--soak runs alone: no --floor, --with-floor, --find-max or --idle";
    } else if (options.players > 32) {
        *error = "--soak plays at most 32 players (the server's limit)";
    } else if (options.duration < 30.0) {
        *error = "--soak needs a --duration of 30 s or more";
    } else {
        return true;
    }
    return false;
}

}  // namespace

bool validateOptions(const Options& options, std::string* error) {
    if (options.soak) return validateSoak(options, error);
    bool haveServer = options.serverPort > 0 || !options.serverBinary.empty();
    if (options.serverPort > 0 && !options.serverBinary.empty()) {
        *error = "give either --server-port or --server-binary, not both";
    } else if (options.floor && options.withFloor) {
        *error = "--floor runs only the floor; --with-floor runs the server and then the floor";
    } else if (!options.floor && !haveServer) {
        *error = "no target: give --server-port, --server-binary or --floor";
    } else if (options.idle > 0 && (options.serverBinary.empty() && options.serverPid <= 0)) {
        *error = "--idle needs --server-binary or --server-pid";
    } else if (options.drain >= options.duration) {
        *error = "--drain must be shorter than --duration";
    } else if (options.findMax && options.drain >= options.stepDuration) {
        *error = "--drain must be shorter than --step-duration";
    } else if (options.addressBase + (options.players - 1) / 250 > 254) {
        *error = "too many players for --address-base";
    } else {
        return true;
    }
    return false;
}

}  // namespace zevload
