// The command line of zevload.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace zevload {

struct Options {
    // The relay under test: a running server on 127.0.0.1, one this tool starts, or the floor.
    int serverPort = 0;
    pid_t serverPid = -1;
    std::string serverBinary;
    int serverCpu = -1;
    int generatorCpu = -1;
    int relayCpu = -1;
    bool floor = false;
    bool withFloor = false;

    int players = 32;
    double rate = 30.0;
    double duration = 20.0;
    double warmup = 2.0;
    double drain = 0.5;
    int addressBase = 1;

    bool findMax = false;
    double budget = 60.0;
    double stepDuration = 3.0;

    double idle = 0.0;
    bool table = false;
    bool help = false;

    // The soak run (Soak.h): the server started with --server-binary, a seeded script.
    bool soak = false;
    int seed = 1;
    // Report the resident-memory growth without judging it (sanitizer builds, whose allocator
    // keeps freed memory in quarantine).
    bool rssReportOnly = false;
    // Keep the server's working directory (configuration, log, ban file) after the run.
    bool keep = false;

    // The value options that the command line gave, by name.
    std::vector<std::string> given;
    bool wasGiven(const char* name) const;
};

// Fills `options` from the arguments. False with a one-line reason in `error`.
bool parseOptions(int argc, char** argv, Options* options, std::string* error);

// In soak mode, the soak's defaults for what the command line left out: 300 s, 20 Hz and a
// 60 s memory warm-up (--warmup).
void applySoakDefaults(Options* options);

// Checks combinations and ranges. False with a one-line reason in `error`.
bool validateOptions(const Options& options, std::string* error);

extern const char* const kUsage;

}  // namespace zevload
