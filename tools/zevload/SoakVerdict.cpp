#include "SoakVerdict.h"

#include <algorithm>
#include <set>

namespace zevload {

namespace {

// Mismatches named in a criterion's detail; the rest are counted.
constexpr std::size_t kNamedMismatches = 4;

class Mismatches {
public:
    void add(const std::string& what) {
        if (m_named.size() < kNamedMismatches) m_named.push_back(what);
        ++m_count;
    }

    Criterion criterion(const std::string& name, const std::string& whenEqual) const {
        Criterion made{name, m_count == 0, true, whenEqual};
        if (m_count == 0) return made;
        made.detail = std::to_string(m_count) + " differ:";
        for (const std::string& what : m_named) made.detail += " " + what + ";";
        if (m_count > m_named.size()) made.detail += " ...";
        return made;
    }

private:
    std::vector<std::string> m_named;
    std::size_t m_count = 0;
};

const ListedPlayer* findListed(const SoakObservations& seen, const std::string& nick) {
    for (const ListedPlayer& player : seen.listed) {
        if (player.nick == nick) return &player;
    }
    return nullptr;
}

const StatusPlayer* findStatus(const SoakObservations& seen, const std::string& nick) {
    for (const StatusPlayer& player : seen.status.list) {
        if (player.nick == nick) return &player;
    }
    return nullptr;
}

std::string joined(const std::vector<std::string>& items) {
    std::string text;
    for (const std::string& item : items) text += (text.empty() ? "" : " ") + item;
    return text.empty() ? "(none)" : text;
}

// A long list by its ends and its length.
std::string summarized(const std::vector<std::string>& items) {
    constexpr std::size_t kEnds = 3;
    if (items.size() <= 2 * kEnds + 2) return joined(items);
    std::vector<std::string> ends(items.begin(), items.begin() + kEnds);
    ends.emplace_back("...");
    ends.insert(ends.end(), items.end() - kEnds, items.end());
    return joined(ends) + " (" + std::to_string(items.size()) + " entries)";
}

Criterion judgeRemovals(const SoakObservations& seen) {
    Criterion made{"no player removed but by the script",
                   seen.unexpectedRemovals.empty() && seen.removalLogLines.empty(), true, ""};
    made.detail = std::to_string(seen.scriptQuits) + " quits by the script, " +
                  std::to_string(seen.quitNotices) + " leave notices for them";
    if (!seen.unexpectedRemovals.empty()) {
        made.detail += "; unexpected: " + joined(seen.unexpectedRemovals);
    }
    if (!seen.removalLogLines.empty()) {
        made.detail += "; the log: " + std::to_string(seen.removalLogLines.size()) +
                       " removal lines, the first: " + seen.removalLogLines.front();
    }
    return made;
}

Criterion judgeScript(const SoakObservations& seen) {
    Criterion made{"the script ran as planned", seen.scriptProblems.empty(), true, ""};
    made.detail = made.pass ? "every event sent, every rejoin and admin request answered"
                            : joined(seen.scriptProblems);
    return made;
}

Criterion judgePlayerList(const SoakObservations& seen, const SoakLedger& expected) {
    std::multiset<std::string> want;
    for (const ExpectedPlayer& player : expected.players()) want.insert(player.nick);
    std::multiset<std::string> listed;
    for (const ListedPlayer& player : seen.listed) listed.insert(player.nick);
    std::multiset<std::string> status;
    for (const StatusPlayer& player : seen.status.list) status.insert(player.nick);
    Mismatches wrong;
    if (!seen.listedReceived) wrong.add("no admin join reply");
    if (!seen.statusReceived) wrong.add("no status reply");
    if (seen.listedReceived && listed != want) {
        wrong.add("admin join reply lists " + std::to_string(listed.size()) + " players");
    }
    if (seen.statusReceived && status != want) {
        wrong.add("status reply lists " + std::to_string(status.size()) + " players");
    }
    if (seen.statusReceived && seen.status.players != std::to_string(want.size())) {
        wrong.add("status count " + seen.status.players);
    }
    return wrong.criterion("player list", std::to_string(want.size()) +
                                              " players in the admin's join reply and "
                                              "the status reply");
}

Criterion judgeScores(const SoakObservations& seen, const SoakLedger& expected) {
    Mismatches wrong;
    for (const ExpectedPlayer& player : expected.players()) {
        const ListedPlayer* listed = findListed(seen, player.nick);
        const StatusPlayer* status = findStatus(seen, player.nick);
        std::string want = std::to_string(player.score);
        if (listed == nullptr || listed->score != player.score) {
            wrong.add(player.nick + " " +
                      (listed != nullptr ? std::to_string(listed->score) : "missing") +
                      " in the join reply, expected " + want);
        }
        if (status == nullptr || status->score != want) {
            wrong.add(player.nick + " " + (status != nullptr ? status->score : "missing") +
                      " in the status reply, expected " + want);
        }
    }
    return wrong.criterion("scores", "equal in the admin's join reply and the status reply");
}

Criterion judgeMoney(const SoakObservations& seen, const SoakLedger& expected) {
    Mismatches wrong;
    for (const ExpectedPlayer& player : expected.players()) {
        const ListedPlayer* listed = findListed(seen, player.nick);
        if (listed == nullptr || listed->money != player.money) {
            wrong.add(player.nick + " " +
                      (listed != nullptr ? std::to_string(listed->money) : "missing") +
                      ", expected " + std::to_string(player.money));
        }
    }
    return wrong.criterion("money", "equal in the admin's join reply");
}

Criterion judgeSkins(const SoakObservations& seen, const SoakLedger& expected) {
    Mismatches wrong;
    for (const ExpectedPlayer& player : expected.players()) {
        const ListedPlayer* listed = findListed(seen, player.nick);
        auto skin = listed != nullptr ? seen.skins.find(listed->id) : seen.skins.end();
        if (skin == seen.skins.end() || skin->second != player.skin) {
            wrong.add(player.nick + " " +
                      (skin != seen.skins.end() ? std::to_string(skin->second) : "unanswered") +
                      ", expected " + std::to_string(player.skin));
        }
    }
    return wrong.criterion("skins", "equal in the skin-query answers");
}

Criterion judgeBans(const SoakObservations& seen, const SoakLedger& expected) {
    Mismatches wrong;
    if (!seen.banReplyReceived) {
        wrong.add("no ban-list reply");
    } else if (seen.banReply != expected.bans()) {
        wrong.add("ban-list reply: " + summarized(seen.banReply));
    }
    if (!seen.banFileRead) {
        wrong.add("no ban file");
    } else if (seen.banFile != expected.bans()) {
        wrong.add("ban file: " + summarized(seen.banFile));
    }
    Criterion made = wrong.criterion(
        "ban list", summarized(expected.bans()) + " (admin's reply, and the file after shutdown)");
    if (!made.pass) made.detail += " expected: " + summarized(expected.bans());
    return made;
}

Criterion judgeMemory(const SoakObservations& seen) {
    MemoryFigures memory = memoryFigures(seen.samples, seen.warmupSeconds);
    Criterion made{"resident memory grows <= 1 MiB after warm-up", false, seen.judgeMemory, ""};
    if (!memory.known) {
        made.detail = "no sample after the warm-up";
        return made;
    }
    made.pass = memory.growthKib <= kMaxGrowthKib;
    made.detail = std::to_string(memory.growthKib) + " KiB (" + std::to_string(memory.baselineKib) +
                  " KiB at " + std::to_string(static_cast<int>(seen.warmupSeconds)) + " s, " +
                  std::to_string(memory.endKib) + " at the end, peak " +
                  std::to_string(memory.peakKib) + ")";
    if (!seen.judgeMemory) made.detail += "; reported only";
    return made;
}

Criterion judgeDescriptors(const SoakObservations& seen) {
    Criterion made{"descriptor count constant", !seen.samples.empty(), true, ""};
    if (seen.samples.empty()) {
        made.detail = "no sample";
        return made;
    }
    int first = seen.samples.front().descriptors;
    made.detail = std::to_string(first) + " throughout";
    for (const ResourceSample& sample : seen.samples) {
        if (sample.descriptors == first) continue;
        made.pass = false;
        made.detail = std::to_string(first) + ", then " + std::to_string(sample.descriptors) +
                      " at " + std::to_string(static_cast<int>(sample.atSeconds)) + " s";
        break;
    }
    return made;
}

Criterion judgeOnceASecond(const SoakObservations& seen) {
    Criterion made{"once-a-second group ran in >= 95% of the seconds", false, true, ""};
    double share = seen.secondsElapsed > 0 ? static_cast<double>(seen.secondsWithPing) /
                                                 static_cast<double>(seen.secondsElapsed)
                                           : 0.0;
    made.pass = seen.secondsElapsed > 0 && share >= kMinPingSecondsShare;
    char text[96];
    std::snprintf(text, sizeof(text), "%lld of %lld seconds (%.1f%%) brought the admin a ping",
                  static_cast<long long>(seen.secondsWithPing),
                  static_cast<long long>(seen.secondsElapsed), share * 100.0);
    made.detail = text;
    return made;
}

Criterion judgeExit(const SoakObservations& seen) {
    Criterion made{"clean shutdown",
                   seen.exitedByItself && seen.exitStatus == 0 && seen.sanitizerReport.empty(),
                   true, ""};
    if (!seen.exitedByItself) {
        made.detail = "did not end within the grace period after SIGTERM";
    } else if (seen.exitSignal != 0) {
        made.detail = "ended by signal " + std::to_string(seen.exitSignal);
    } else if (seen.exitStatus != 0) {
        made.detail = "exit status " + std::to_string(seen.exitStatus);
    } else {
        made.detail = "exit status 0 after SIGTERM";
    }
    if (!seen.sanitizerReport.empty()) made.detail += "; sanitizer: " + seen.sanitizerReport;
    return made;
}

}  // namespace

MemoryFigures memoryFigures(const std::vector<ResourceSample>& samples, double warmupSeconds) {
    MemoryFigures figures;
    for (const ResourceSample& sample : samples) {
        if (sample.atSeconds < warmupSeconds || sample.residentKib < 0) continue;
        if (!figures.known) figures.baselineKib = sample.residentKib;
        figures.known = true;
        figures.endKib = sample.residentKib;
        figures.peakKib = std::max(figures.peakKib, sample.residentKib);
    }
    figures.growthKib = figures.endKib - figures.baselineKib;
    return figures;
}

std::vector<Criterion> judgeSoak(const SoakObservations& seen, const SoakLedger& expected) {
    return {judgeRemovals(seen),
            judgeScript(seen),
            judgePlayerList(seen, expected),
            judgeScores(seen, expected),
            judgeMoney(seen, expected),
            judgeSkins(seen, expected),
            judgeBans(seen, expected),
            judgeMemory(seen),
            judgeDescriptors(seen),
            judgeOnceASecond(seen),
            judgeExit(seen)};
}

bool soakPassed(const std::vector<Criterion>& criteria) {
    return std::all_of(criteria.begin(), criteria.end(),
                       [](const Criterion& c) { return c.pass || !c.judged; });
}

void printCriteria(std::FILE* out, const std::vector<Criterion>& criteria) {
    for (const Criterion& criterion : criteria) {
        const char* mark = !criterion.judged ? "INFO" : criterion.pass ? "PASS" : "FAIL";
        std::fprintf(out, "  %s  %s: %s\n", mark, criterion.name.c_str(), criterion.detail.c_str());
    }
    std::fprintf(out, "result: %s\n", soakPassed(criteria) ? "PASS" : "FAIL");
}

}  // namespace zevload
