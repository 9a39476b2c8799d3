// What a soak run saw, and the verdict on it: one criterion per requirement, each with the
// figures behind it. Pure, so that tests can feed it observations.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "SoakScript.h"
#include "SoakWire.h"

namespace zevload {

struct ResourceSample {
    double atSeconds = 0.0;  // since play began
    std::int64_t residentKib = -1;
    int descriptors = -1;
};

struct SoakObservations {
    // Removals the script did not make, one description each: as the players and the admin
    // saw them, and the server's log lines about them.
    std::vector<std::string> unexpectedRemovals;
    std::vector<std::string> removalLogLines;
    int scriptQuits = 0;
    // Leave notices [9, 0, id] that the admin saw for the script's quits.
    int quitNotices = 0;
    // Where the script could not run as planned: a refused rejoin, an event due for a player
    // that was not in, a missing or wrong admin reply.
    std::vector<std::string> scriptProblems;

    // The final state, as the server reports it.
    bool listedReceived = false;
    std::vector<ListedPlayer> listed;  // the join reply of an admin logging in at the end
    bool statusReceived = false;
    StatusReply status;        // a status query at the end
    std::map<int, int> skins;  // skin-query answers, by player id
    bool banReplyReceived = false;
    std::vector<std::string> banReply;  // the admin's ban-list request at the end
    bool banFileRead = false;
    std::vector<std::string> banFile;  // the ban file after the server stopped

    std::vector<ResourceSample> samples;  // one a second through play
    double warmupSeconds = 60.0;
    bool judgeMemory = true;

    // Whole seconds of play, and those in which the admin received the once-a-second ping.
    std::int64_t secondsElapsed = 0;
    std::int64_t secondsWithPing = 0;

    bool exitedByItself = false;  // within the grace period after SIGTERM
    int exitStatus = -1;          // the exit code when it exited normally
    int exitSignal = 0;           // the signal that ended it, if one did
    std::string sanitizerReport;  // the first line of one in the server's error output
};

struct Criterion {
    std::string name;
    bool pass = false;
    // False when the figure is only reported (it cannot fail the run).
    bool judged = true;
    std::string detail;
};

constexpr std::int64_t kMaxGrowthKib = 1024;
constexpr double kMinPingSecondsShare = 0.95;

struct MemoryFigures {
    bool known = false;  // a sample at or after the warm-up exists
    std::int64_t baselineKib = 0;
    std::int64_t endKib = 0;
    std::int64_t peakKib = 0;
    std::int64_t growthKib = 0;  // end - baseline
};

// The first sample at or after `warmupSeconds` is the baseline; the last one is the end.
MemoryFigures memoryFigures(const std::vector<ResourceSample>& samples, double warmupSeconds);

std::vector<Criterion> judgeSoak(const SoakObservations& seen, const SoakLedger& expected);

bool soakPassed(const std::vector<Criterion>& criteria);

void printCriteria(std::FILE* out, const std::vector<Criterion>& criteria);

}  // namespace zevload
