#include "SoakRun.h"

#include <sys/epoll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "Generator.h"
#include "LoadProtocol.h"
#include "LoopbackSocket.h"
#include "ProcStat.h"
#include "SoakWire.h"
#include "net/Envelope.h"

namespace zevload {

namespace {

constexpr int kMaxEvents = 64;
constexpr int kAnswerTimeoutMs = 5000;
constexpr std::uint64_t kNanosPerMs = 1000000;
constexpr std::uint64_t kNanosPerSecond = 1000000000;
constexpr std::uint32_t kLoopback = 0x7F000001;
constexpr int kQueryPortOffset = 123;
// A run shorter than this gets two thirds of its length as memory warm-up.
constexpr double kShortRunSeconds = 90.0;
// Reads of the descriptor count when one differs from the first sample: a ban write holds a
// descriptor for a moment, a leak holds it for good.
constexpr int kDescriptorRereads = 3;

std::string extraConfiguration(int adminPort) {
    return "AdminServer 1\n"
           "AdminIPAddress 127.0.0.1\n"
           "AdminPort " +
           std::to_string(adminPort) +
           "\n"
           "AdminPassword " +
           SoakRun::kAdminPassword +
           "\n"
           "AdminPlus 1\n"
           "AdminPlusPassword " +
           SoakRun::kAdminPlusPassword +
           "\n"
           "ASE 1\n";
}

std::string banFileText(const std::vector<std::string>& bans) {
    std::string text;
    for (const std::string& entry : bans) text += entry + "\n";
    return text;
}

SoakSettings settingsOf(const Options& options) {
    SoakSettings settings;
    settings.players = options.players;
    settings.durationMs = static_cast<std::uint64_t>(options.duration * 1000.0);
    settings.seed = static_cast<std::uint64_t>(options.seed);
    return settings;
}

}  // namespace

SoakRun::SoakRun(const Options& options)
    : m_options(options),
      m_settings(settingsOf(options)),
      m_plan(buildSoakPlan(m_settings)),
      m_ledger(options.players, m_plan.initialBans) {
    m_seen.warmupSeconds = options.duration < kShortRunSeconds
                               ? std::min(options.warmup, options.duration * 2.0 / 3.0)
                               : options.warmup;
    m_seen.judgeMemory = !options.rssReportOnly;
}

SoakRun::~SoakRun() {
    for (Player& player : m_players) {
        if (player.fd >= 0) close(player.fd);
    }
    for (int fd : {m_admin.fd, m_auditor.fd, m_query, m_timer, m_epoll}) {
        if (fd >= 0) close(fd);
    }
    stopServer(&m_server);
}

bool SoakRun::start() {
    LaunchSetup setup;
    setup.binary = m_options.serverBinary;
    setup.cpu = m_options.serverCpu;
    setup.banFile = banFileText(m_plan.initialBans);
    setup.queryPort = true;
    // In the foreground SIGTERM would end the server at once, without its shutdown.
    setup.background = true;
    m_adminPort = pickFreePort();
    setup.extraConfiguration = extraConfiguration(m_adminPort);
    if (m_adminPort == 0 || !launchServer(setup, &m_server)) return false;
    // Each was free when picked, but not all at once. (The server would move its query port
    // silently and run without its admin port.)
    if (m_adminPort == m_server.port || m_adminPort == m_server.port + kQueryPortOffset) {
        std::fprintf(stderr,
                     "zevload: the admin port collided with the game or query port; run again\n");
        return false;
    }
    if (m_options.generatorCpu >= 0 && !pinToCpu(m_options.generatorCpu)) {
        std::fprintf(stderr, "zevload: cannot pin to CPU %d\n", m_options.generatorCpu);
        return false;
    }
    m_generalCipher.MakeKey(kGeneralKey, CRijndael::sm_chain0, 16, 16);
    prctl(PR_SET_TIMERSLACK, 1UL);
    return openSockets() && joinAll() && logIn(m_admin, 2, kAdminNick, kAdminPlusPassword);
}

bool SoakRun::watch(int fd, std::uint32_t tag) {
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u32 = tag;
    if (fd >= 0 && epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &event) == 0) return true;
    std::fprintf(stderr, "zevload: cannot watch a socket: %s\n", std::strerror(errno));
    return false;
}

bool SoakRun::openSockets() {
    m_epoll = epoll_create1(EPOLL_CLOEXEC);
    m_timer = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (m_epoll < 0 || m_timer < 0 || !watch(m_timer, kTimerTag)) return false;
    m_players.resize(static_cast<std::size_t>(m_settings.players));
    for (int i = 0; i < m_settings.players; ++i) {
        Player& player = m_players[static_cast<std::size_t>(i)];
        player.index = i;
        player.nick = soakNick(i);
        // Two units apart: everyone in sight of everyone, so every copy is a full record.
        player.x = 100.0f + 2.0f * static_cast<float>(i);
        player.y = 100.0f;
        player.fd = openClientSocket(clientAddress(m_options.addressBase, i), m_server.port);
        if (!watch(player.fd, static_cast<std::uint32_t>(i))) return false;
    }
    m_admin.fd = openClientSocket(kLoopback, m_adminPort);
    m_auditor.fd = openClientSocket(kLoopback, m_adminPort);
    m_query = openClientSocket(kLoopback, m_server.port + kQueryPortOffset);
    return watch(m_admin.fd, kAdminTag) && watch(m_auditor.fd, kAuditorTag) &&
           watch(m_query, kQueryTag);
}

bool SoakRun::joinAll() {
    for (Player& player : m_players) sendJoinRequest(player);
    pumpUntil(kAnswerTimeoutMs, [this] {
        return std::none_of(m_players.begin(), m_players.end(),
                            [](const Player& player) { return player.joining; });
    });
    bool all = std::all_of(m_players.begin(), m_players.end(),
                           [](const Player& player) { return player.joined; });
    if (!all) {
        std::fprintf(stderr, "zevload: not every player could join the server\n");
        for (const std::string& problem : m_seen.scriptProblems) {
            std::fprintf(stderr, "zevload:   %s\n", problem.c_str());
        }
    }
    return all;
}

bool SoakRun::logIn(Admin& admin, int level, const char* nick, const char* password) {
    unsigned char request[64];
    sendPlain(admin.fd, request, buildAdminLogin(request, sizeof(request), level, nick, password));
    pumpUntil(kAnswerTimeoutMs, [&admin] { return admin.loggedIn || admin.refused; });
    if (!admin.loggedIn) {
        std::fprintf(stderr, "zevload: the admin %s could not log in (%s)\n", nick,
                     admin.refused ? "refused" : "no answer");
    }
    return admin.loggedIn;
}

void SoakRun::pumpUntil(int timeoutMs, const std::function<bool()>& done) {
    std::uint64_t deadline = monotonicNanos() + static_cast<std::uint64_t>(timeoutMs) * kNanosPerMs;
    epoll_event events[kMaxEvents];
    for (std::uint64_t now = monotonicNanos(); now < deadline && !done(); now = monotonicNanos()) {
        int wait = static_cast<int>((deadline - now) / kNanosPerMs) + 1;
        int count = epoll_wait(m_epoll, events, kMaxEvents, wait);
        for (int i = 0; i < count; ++i) {
            if (events[i].data.u32 != kTimerTag) drain(events[i].data.u32);
        }
    }
}

void SoakRun::play() {
    m_playStart = monotonicNanos() + 10 * kNanosPerMs;
    m_playEnd = m_playStart + m_settings.durationMs * kNanosPerMs;
    m_reportSlotNanos = 1e9 / (m_options.rate * static_cast<double>(m_players.size()));
    m_nextSecond = m_playStart;
    epoll_event events[kMaxEvents];
    bool playing = armTimer(m_playStart);
    while (playing) {
        int count = epoll_wait(m_epoll, events, kMaxEvents, -1);
        if (count < 0 && errno != EINTR) break;
        for (int i = 0; i < count; ++i) {
            if (events[i].data.u32 != kTimerTag) {
                drain(events[i].data.u32);
            } else if (!onTimer()) {
                playing = false;
            }
        }
    }
}

bool SoakRun::onTimer() {
    std::uint64_t expirations = 0;
    if (read(m_timer, &expirations, sizeof(expirations)) < 0) return true;
    std::uint64_t now = monotonicNanos();
    if (m_serverGone || now >= m_playEnd) {
        m_playEnd = std::min(now, m_playEnd);
        return false;
    }
    sendDueReports(now);
    runDueEvents(now);
    if (now >= m_nextSecond) {
        everySecond(now);
        while (m_nextSecond <= now) m_nextSecond += kNanosPerSecond;
    }
    return armTimer(nextWake());
}

void SoakRun::sendDueReports(std::uint64_t now) {
    auto due = [this] {
        return m_playStart +
               static_cast<std::uint64_t>(static_cast<double>(m_reportSlot) * m_reportSlotNanos);
    };
    for (std::uint64_t at = due(); at <= now && at < m_playEnd; at = due()) {
        Player& player = m_players[m_reportSlot % m_players.size()];
        ++m_reportSlot;
        if (!player.joined) continue;
        unsigned char report[kStateReportSize];
        int length = buildStateReport(report, static_cast<std::uint32_t>(player.index),
                                      player.sequence++, monotonicNanos(), player.x, player.y);
        sendSealed(player, report, length);
        ++m_counts.reportsSent;
        auto receivers = std::count_if(m_players.begin(), m_players.end(),
                                       [](const Player& p) { return p.joined && p.heard; });
        m_counts.copiesExpected += static_cast<std::uint64_t>(receivers - 1);
    }
}

void SoakRun::everySecond(std::uint64_t now) {
    const unsigned char query[1] = {'s'};
    sendPlain(m_query, query, sizeof(query));
    ++m_counts.statusQueries;

    ResourceSample sample;
    sample.atSeconds = static_cast<double>(now - m_playStart) / 1e9;
    sample.residentKib = readResidentKib(m_server.pid);
    sample.descriptors = countDescriptors(m_server.pid);
    int first = m_seen.samples.empty() ? sample.descriptors : m_seen.samples.front().descriptors;
    for (int i = 0; i < kDescriptorRereads && sample.descriptors != first; ++i) {
        usleep(20000);
        sample.descriptors = countDescriptors(m_server.pid);
    }
    if (sample.residentKib < 0 || sample.descriptors < 0) {
        m_serverGone = true;
        m_seen.scriptProblems.push_back("the server was gone " +
                                        std::to_string(static_cast<int>(sample.atSeconds)) +
                                        " s into play");
        return;
    }
    m_seen.samples.push_back(sample);
}

void SoakRun::sendSealed(Player& player, const unsigned char* data, int length) {
    if (player.joined) player.heard = true;
    unsigned char sealed[256];
    int size = sealEnvelope(player.cipher, data, length, sealed, sizeof(sealed));
    if (size <= 0 || send(player.fd, sealed, static_cast<std::size_t>(size), 0) != size) {
        ++m_counts.sendErrors;
    }
}

void SoakRun::sendJoinRequest(Player& player) {
    unsigned char request[64];
    int length = buildJoinRequest(request, sizeof(request), player.nick.c_str());
    unsigned char sealed[96];
    int size = sealEnvelope(m_generalCipher, request, length, sealed, sizeof(sealed));
    player.joining = true;
    if (size <= 0 || send(player.fd, sealed, static_cast<std::size_t>(size), 0) != size) {
        ++m_counts.sendErrors;
    }
}

void SoakRun::sendPlain(int fd, const unsigned char* data, int length) {
    if (length <= 0 || send(fd, data, static_cast<std::size_t>(length), 0) != length) {
        ++m_counts.sendErrors;
    }
}

std::uint64_t SoakRun::nextWake() const {
    std::uint64_t next = m_playStart + static_cast<std::uint64_t>(
                                           static_cast<double>(m_reportSlot) * m_reportSlotNanos);
    if (m_nextEvent < m_plan.events.size()) {
        next = std::min(next, m_playStart + m_plan.events[m_nextEvent].atMs * kNanosPerMs);
    }
    return std::min({next, m_nextSecond, m_playEnd});
}

bool SoakRun::armTimer(std::uint64_t atNanos) {
    itimerspec deadline{};
    deadline.it_value.tv_sec = static_cast<time_t>(atNanos / kNanosPerSecond);
    deadline.it_value.tv_nsec = static_cast<long>(atNanos % kNanosPerSecond);
    return timerfd_settime(m_timer, TFD_TIMER_ABSTIME, &deadline, nullptr) == 0;
}

SoakRun::Player* SoakRun::playerWithId(int id) {
    for (Player& player : m_players) {
        if (player.id == id) return &player;
    }
    return nullptr;
}

int runSoak(const Options& options) {
    SoakRun run(options);
    return run.run();
}

}  // namespace zevload
