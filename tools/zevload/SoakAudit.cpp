#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "SoakRun.h"
#include "SoakWire.h"

namespace zevload {

namespace {

// After play, for the last reports, events and their answers to land.
constexpr int kSettleMs = 1500;
constexpr int kAnswerTimeoutMs = 5000;
constexpr int kFarewellMs = 300;
// A sanitized server checks for leaks on its way out, which takes a while.
constexpr int kStopTimeoutMs = 15000;
constexpr std::uint64_t kNanosPerSecond = 1000000000;

std::string readFile(const std::string& path, bool* found) {
    std::ifstream in(path, std::ios::binary);
    *found = static_cast<bool>(in);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Log lines of the server's own removals (timeouts, floods, failed checks) and bans of
// players; the script's quits log "QUIT: '<nick>', PlayerID = <id>" with no reason.
bool isRemovalLine(const std::string& line) {
    auto has = [&line](const char* text) { return line.find(text) != std::string::npos; };
    return has(" quit due to ") || has("for Join Flood") || has("KICKED: '") ||
           (has("BANNED: '") && has("PlayerID"));
}

bool isSanitizerLine(const std::string& line) {
    return line.find("Sanitizer") != std::string::npos ||
           line.find("runtime error:") != std::string::npos;
}

}  // namespace

int SoakRun::run() {
    std::printf("zevload soak: %d players x %g Hz, %g s of play, seed %d, server %s\n",
                m_settings.players, m_options.rate, m_options.duration, m_options.seed,
                m_options.serverBinary.c_str());
    if (m_seen.warmupSeconds < m_options.warmup) {
        std::printf("(a run this short gets a memory warm-up of %.0f s instead of %.0f s)\n",
                    m_seen.warmupSeconds, m_options.warmup);
    }
    std::fflush(stdout);
    if (!start()) {
        std::fprintf(stderr, "zevload: the soak could not start\n");
        if (m_options.keep && !m_server.directory.empty()) {
            std::fprintf(stderr, "zevload: server directory kept: %s\n",
                         m_server.directory.c_str());
            m_server.directory.clear();
        }
        return 1;
    }
    play();
    auto first = static_cast<std::int64_t>((m_playStart + kNanosPerSecond - 1) / kNanosPerSecond);
    auto end = static_cast<std::int64_t>(m_playEnd / kNanosPerSecond);
    m_seen.secondsElapsed = std::max<std::int64_t>(0, end - first);
    m_seen.secondsWithPing = std::count_if(m_pingSeconds.begin(), m_pingSeconds.end(),
                                           [&](std::int64_t s) { return s >= first && s < end; });
    audit();
    stopServerAndRead();

    std::vector<Criterion> criteria = judgeSoak(m_seen, m_ledger);
    printFigures();
    std::printf("criteria\n");
    printCriteria(stdout, criteria);
    bool passed = soakPassed(criteria);
    if (!passed || m_options.keep) {
        std::printf("server directory kept: %s\n", m_server.directory.c_str());
        m_server.directory.clear();
    }
    return passed ? 0 : 1;
}

void SoakRun::audit() {
    pumpUntil(kSettleMs, [] { return false; });
    noteLooseEnds();
    askFinalState();
    // Everyone leaves; these quits are not the script's and are not judged.
    m_closing = true;
    const unsigned char quit[1] = {2};
    for (Player& player : m_players) {
        if (player.joined) sendSealed(player, quit, sizeof(quit));
    }
    sendPlain(m_admin.fd, quit, sizeof(quit));
    sendPlain(m_auditor.fd, quit, sizeof(quit));
    pumpUntil(kFarewellMs, [] { return false; });
}

void SoakRun::noteLooseEnds() {
    for (const Player& player : m_players) {
        if (!player.joined) m_seen.scriptProblems.push_back(player.nick + " was out at the end");
    }
    if (!m_pendingAdminReplies.empty()) {
        m_seen.scriptProblems.push_back(std::to_string(m_pendingAdminReplies.size()) +
                                        " admin requests unanswered");
    }
    if (!m_pendingQuits.empty()) {
        m_seen.scriptProblems.push_back(std::to_string(m_pendingQuits.size()) +
                                        " quits without a leave notice");
    }
}

void SoakRun::askFinalState() {
    // Every question at once: the answers do not depend on each other.
    m_collectStatus = true;
    m_collectSkins = true;
    const unsigned char query[1] = {'s'};
    sendPlain(m_query, query, sizeof(query));
    const unsigned char banList[1] = {17};
    sendPlain(m_admin.fd, banList, sizeof(banList));
    auto asker = std::find_if(m_players.begin(), m_players.end(),
                              [](const Player& player) { return player.joined; });
    std::size_t asked = 0;
    for (const Player& player : m_players) {
        if (!player.joined || asker == m_players.end()) continue;
        unsigned char packet[8];
        sendSealed(*asker, packet, buildSkinQuery(packet, sizeof(packet), player.id));
        ++asked;
    }
    unsigned char login[64];
    sendPlain(m_auditor.fd, login,
              buildAdminLogin(login, sizeof(login), 1, kAuditorNick, kAdminPassword));
    pumpUntil(kAnswerTimeoutMs, [&] {
        return m_seen.statusReceived && m_seen.banReplyReceived && m_auditor.loggedIn &&
               m_seen.skins.size() >= asked;
    });
}

void SoakRun::stopServerAndRead() {
    int status = 0;
    bool ended = terminateServer(&m_server, kStopTimeoutMs, &status);
    m_seen.exitedByItself = ended;
    m_seen.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    m_seen.exitSignal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;

    bool found = false;
    std::string bans = readFile(m_server.directory + "/banned.txt", &found);
    m_seen.banFileRead = found;
    m_seen.banFile = splitBanFile(bans);
    for (const std::string& line :
         splitBanFile(readFile(m_server.directory + "/stderr.txt", &found))) {
        if (isSanitizerLine(line)) {
            m_seen.sanitizerReport = line;
            break;
        }
    }
    for (const std::string& line :
         splitBanFile(readFile(m_server.directory + "/server.log", &found))) {
        if (isRemovalLine(line)) m_seen.removalLogLines.push_back(line);
    }
}

void SoakRun::printFigures() const {
    const Counters& c = m_counts;
    auto n = [](std::uint64_t value) { return static_cast<unsigned long long>(value); };
    auto micros = [](std::uint64_t nanos) { return static_cast<double>(nanos) / 1000.0; };
    std::printf("figures\n");
    std::printf(
        "  state reports sent %llu; copies due %llu, received %llu (latency p50 %.0f us, "
        "p99 %.0f us, max %.0f us)\n",
        n(c.reportsSent), n(c.copiesExpected), n(c.copiesReceived),
        micros(m_latency.percentileNanos(0.5)), micros(m_latency.percentileNanos(0.99)),
        micros(m_latency.maxNanos()));
    std::printf(
        "  chat lines %llu (the admin saw %llu), deaths %llu, money reports %llu, "
        "skin changes %llu, rejoins %llu\n",
        n(c.chatSent), n(c.chatSeen), n(c.deaths), n(c.money), n(c.skins), n(c.rejoins));
    std::printf(
        "  admin: bans %llu, unbans %llu, keep-alives %llu, state feed %llu; players "
        "answered %llu pings\n",
        n(c.bans), n(c.unbans), n(c.keepAlives), n(c.feedPackets), n(c.pingsAnswered));
    std::printf("  longest wait between two of the admin's pings %.0f ms\n",
                static_cast<double>(c.longestPingGapNanos) / 1e6);
    std::printf("  status queries %llu, answered %llu; send errors %llu, unopened %llu\n",
                n(c.statusQueries), n(c.statusReplies), n(c.sendErrors), n(c.unopened));
    if (m_seen.samples.empty()) return;
    MemoryFigures memory = memoryFigures(m_seen.samples, m_seen.warmupSeconds);
    std::printf(
        "  resident memory: %lld KiB at the start of play, %lld after %.0f s, %lld at the "
        "end; descriptors %d\n",
        static_cast<long long>(m_seen.samples.front().residentKib),
        static_cast<long long>(memory.baselineKib), m_seen.warmupSeconds,
        static_cast<long long>(memory.endKib), m_seen.samples.front().descriptors);
}

}  // namespace zevload
