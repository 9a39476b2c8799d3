#include "Generator.h"

#include <sys/epoll.h>
#include <sys/prctl.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "LoadProtocol.h"
#include "LoopbackSocket.h"
#include "ProcStat.h"
#include "net/Envelope.h"

namespace zevload {

namespace {

constexpr std::uint32_t kTimerTag = 0xFFFFFFFFu;
constexpr std::uint64_t kLateNanos = 1000000;
constexpr int kMaxEvents = 64;

}  // namespace

std::uint64_t monotonicNanos() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000000000ULL +
           static_cast<std::uint64_t>(now.tv_nsec);
}

Generator::~Generator() {
    for (Player& player : m_players) {
        if (player.fd >= 0) close(player.fd);
    }
    if (m_timer >= 0) close(m_timer);
    if (m_epoll >= 0) close(m_epoll);
}

bool Generator::open(const GeneratorSetup& setup) {
    m_setup = setup;
    m_generalCipher.MakeKey(kGeneralKey, CRijndael::sm_chain0, 16, 16);
    // The send schedule runs on a timer; the default 50 us of slack would blur it.
    prctl(PR_SET_TIMERSLACK, 1UL);

    for (int i = 0; i < kBatch; ++i) {
        m_vectors[i] = iovec{m_buffers[i], kBufferSize};
        m_messages[i].msg_hdr.msg_iov = &m_vectors[i];
        m_messages[i].msg_hdr.msg_iovlen = 1;
    }
    m_epoll = epoll_create1(EPOLL_CLOEXEC);
    m_timer = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    epoll_event timerEvent{};
    timerEvent.events = EPOLLIN;
    timerEvent.data.u32 = kTimerTag;
    if (m_epoll < 0 || m_timer < 0 || epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_timer, &timerEvent)) {
        std::fprintf(stderr, "zevload: cannot set up epoll and the timer: %s\n",
                     std::strerror(errno));
        return false;
    }
    m_players.resize(static_cast<std::size_t>(setup.players));
    for (int i = 0; i < setup.players; ++i) {
        Player& player = m_players[static_cast<std::size_t>(i)];
        player.index = i;
        player.nickLength = std::snprintf(player.nick, sizeof(player.nick), "p%d", i);
        // Side by side, two units apart: every pair stays well within sight of each other.
        player.x = 100.0f + 2.0f * static_cast<float>(i % 40);
        player.y = 100.0f + 2.0f * static_cast<float>(i / 40);
        player.cipher = m_generalCipher;
        if (!openPlayer(player)) return false;
    }
    return true;
}

bool Generator::openPlayer(Player& player) {
    player.fd =
        openClientSocket(clientAddress(m_setup.addressBase, player.index), m_setup.targetPort);
    if (player.fd < 0) return false;
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u32 = static_cast<std::uint32_t>(player.index);
    if (epoll_ctl(m_epoll, EPOLL_CTL_ADD, player.fd, &event) != 0) {
        std::fprintf(stderr, "zevload: epoll_ctl: %s\n", std::strerror(errno));
        return false;
    }
    return true;
}

int Generator::joinedCount() const {
    int count = 0;
    for (const Player& player : m_players) count += player.joined && !player.removed ? 1 : 0;
    return count;
}

bool Generator::armTimer(std::uint64_t atNanos) {
    itimerspec deadline{};
    deadline.it_value.tv_sec = static_cast<time_t>(atNanos / 1000000000ULL);
    deadline.it_value.tv_nsec = static_cast<long>(atNanos % 1000000000ULL);
    return timerfd_settime(m_timer, TFD_TIMER_ABSTIME, &deadline, nullptr) == 0;
}

void Generator::sendSealed(Player& player, const unsigned char* data, int length) {
    unsigned char sealed[256];
    int size = sealEnvelope(player.cipher, data, length, sealed, sizeof(sealed));
    if (size <= 0 || send(player.fd, sealed, static_cast<std::size_t>(size), 0) != size) {
        if (m_window.result != nullptr) ++m_window.result->sendErrors;
    }
}

void Generator::drainSocket(Player& player) {
    for (mmsghdr& message : m_messages) message.msg_hdr.msg_flags = 0;
    int count = recvmmsg(player.fd, m_messages, kBatch, MSG_DONTWAIT, nullptr);
    if (count <= 0) return;
    // One clock reading per batch: every datagram in it was waiting by then.
    std::uint64_t now = monotonicNanos();
    for (int i = 0; i < count; ++i) {
        int received = static_cast<int>(m_messages[i].msg_len);
        int length = 0;
        if ((m_messages[i].msg_hdr.msg_flags & MSG_TRUNC) == 0) {
            length = openEnvelope(player.joined ? player.cipher : m_generalCipher, m_buffers[i],
                                  received);
        }
        if (length > 0) {
            handleDatagram(player, m_buffers[i], length, now);
        } else if (m_window.result != nullptr) {
            ++m_window.result->unopened;
        }
    }
}

void Generator::handleJoinAnswer(Player& player, const unsigned char* data, int length) {
    if (data[0] == 6) {
        player.refusal = length >= 2 ? data[1] : 255;
        return;
    }
    if (data[0] != 1) return;
    if (m_setup.floor) {
        // The relay's echo of our own request: registered. The general key stays.
        player.id = player.index;
        player.joined = true;
        return;
    }
    JoinReply reply;
    if (!parseJoinReply(data, length, &reply)) return;
    player.id = reply.id;
    player.cipher.MakeKey(reinterpret_cast<const char*>(reply.key), CRijndael::sm_chain0, 16, 16);
    player.joined = true;
}

void Generator::handleDatagram(Player& player, const unsigned char* data, int length,
                               std::uint64_t now) {
    if (!player.joined) {
        handleJoinAnswer(player, data, length);
        return;
    }
    RunResult* result = m_window.result;
    unsigned char reply[16];
    switch (data[0]) {
        case 10: {
            RecordStamp stamp;
            if (!parseRelayedRecord(data, length, m_setup.floor ? 1 : 2, &stamp)) {
                if (result != nullptr) ++result->foreign;
                return;
            }
            if (result == nullptr) return;
            if (stamp.sendNanos >= m_window.start && stamp.sendNanos < m_window.end) {
                ++result->delivered;
                result->latency.record(now > stamp.sendNanos ? now - stamp.sendNanos : 0);
            } else {
                ++result->outsideWindow;
            }
            return;
        }
        case 4:
            sendSealed(player, reply, buildPingReply(reply, player.id, player.nickLength));
            if (result != nullptr) ++result->pingsAnswered;
            return;
        case 25:
            sendSealed(player, reply, buildCheckReply(reply));
            return;
        case 6:
            if (!player.removed) {
                std::fprintf(stderr, "zevload: the server removed %s (reason %d)\n", player.nick,
                             length >= 2 ? data[1] : -1);
            }
            player.removed = true;
            return;
        default:
            return;
    }
}

bool Generator::join(int timeoutMs) {
    unsigned char request[64];
    for (Player& player : m_players) {
        int length = buildJoinRequest(request, sizeof(request), player.nick);
        sendSealed(player, request, length);
    }
    std::uint64_t deadline = monotonicNanos() + static_cast<std::uint64_t>(timeoutMs) * 1000000;
    epoll_event events[kMaxEvents];
    while (true) {
        int waiting = 0;
        for (const Player& player : m_players) {
            waiting += !player.joined && player.refusal < 0 ? 1 : 0;
        }
        std::uint64_t now = monotonicNanos();
        if (waiting == 0 || now >= deadline) break;
        int left = static_cast<int>((deadline - now) / 1000000) + 1;
        int count = epoll_wait(m_epoll, events, kMaxEvents, left);
        for (int i = 0; i < count; ++i) {
            if (events[i].data.u32 == kTimerTag) continue;
            drainSocket(m_players[events[i].data.u32]);
        }
    }
    int joined = joinedCount();
    if (joined == m_setup.players) return true;
    std::fprintf(stderr, "zevload: only %d of %d players %s 127.0.0.1:%d within %d ms\n", joined,
                 m_setup.players, m_setup.floor ? "registered with the floor relay at" : "joined",
                 m_setup.targetPort, timeoutMs);
    reportRefusals();
    return false;
}

void Generator::reportRefusals() const {
    int refused[256] = {};
    int total = 0;
    for (const Player& player : m_players) {
        if (player.refusal < 0) continue;
        ++refused[player.refusal & 0xFF];
        ++total;
    }
    for (int reason = 0; reason < 256; ++reason) {
        if (refused[reason] == 0) continue;
        std::fprintf(stderr, "zevload:   %d refused with reason %d (%s)\n", refused[reason], reason,
                     refusalText(reason));
    }
    if (refused[12] > 0) {
        std::fprintf(stderr,
                     "zevload:   the server bars an address for about 6 s after a join; wait, or "
                     "pick other addresses with --address-base (a third try within that time "
                     "bans them)\n");
    }
    if (total == 0 && joinedCount() == 0) {
        std::fprintf(stderr, "zevload:   no answer: is a server listening there?\n");
    }
}

void Generator::sendReport(Player& player) {
    unsigned char plain[kStateReportSize];
    // The stamp is taken last before sealing: the measured latency starts here.
    std::uint64_t now = monotonicNanos();
    int length = buildStateReport(plain, static_cast<std::uint32_t>(player.index),
                                  player.sequence++, now, player.x, player.y);
    unsigned char sealed[64];
    int size = sealEnvelope(player.cipher, plain, length, sealed, sizeof(sealed));
    RunResult* result = m_window.result;
    if (send(player.fd, sealed, static_cast<std::size_t>(size), 0) != size) {
        ++result->sendErrors;
        return;
    }
    ++result->sent;
    if (now >= m_window.start && now < m_window.end) {
        ++result->sentInWindow;
        int others = joinedCount() - 1;
        result->expected += static_cast<std::uint64_t>(others > 0 ? others : 0);
    }
}

bool Generator::run(const RunParams& params, RunResult* result) {
    auto nanos = [](double seconds) { return static_cast<std::uint64_t>(seconds * 1e9); };
    Schedule schedule;
    schedule.start = monotonicNanos() + 10000000;
    schedule.end = schedule.start + nanos(params.warmup + params.duration);
    // Players take turns at even spacing, as unsynchronised clients would.
    schedule.slotNanos = 1e9 / (params.rate * static_cast<double>(m_players.size()));
    schedule.measuredPid = params.measuredPid;
    std::uint64_t windowStart = schedule.start + nanos(params.warmup);
    m_window = Window{windowStart, windowStart + nanos(params.duration - params.drain), result};
    result->windowSeconds = params.duration - params.drain;

    epoll_event events[kMaxEvents];
    bool finished = !armTimer(schedule.start);
    while (!finished) {
        int count = epoll_wait(m_epoll, events, kMaxEvents, -1);
        if (count < 0 && errno != EINTR) break;
        for (int i = 0; i < count; ++i) {
            if (events[i].data.u32 != kTimerTag) {
                drainSocket(m_players[events[i].data.u32]);
            } else if (!onTimer(schedule)) {
                finished = true;
            }
        }
    }
    for (const Player& player : m_players) result->removedPlayers += player.removed ? 1 : 0;
    m_window = Window{};
    return schedule.done;
}

bool Generator::onTimer(Schedule& schedule) {
    std::uint64_t expirations = 0;
    if (read(m_timer, &expirations, sizeof(expirations)) < 0) return true;
    RunResult* result = m_window.result;
    std::uint64_t now = monotonicNanos();
    if (schedule.phase == 0 && now >= m_window.start) {
        schedule.phase = 1;
        schedule.relayCpuStart =
            schedule.measuredPid > 0 ? readProcessCpuMicros(schedule.measuredPid) : -1;
        schedule.ownCpuStart = ownCpuMicros();
    }
    if (schedule.phase == 1 && now >= m_window.end) {
        schedule.phase = 2;
        std::int64_t relayCpuEnd =
            schedule.measuredPid > 0 ? readProcessCpuMicros(schedule.measuredPid) : -1;
        if (schedule.relayCpuStart >= 0 && relayCpuEnd >= 0) {
            result->relayCpuMicros = relayCpuEnd - schedule.relayCpuStart;
        }
        result->generatorCpuMicros = ownCpuMicros() - schedule.ownCpuStart;
    }
    for (std::uint64_t due = schedule.due(); due <= now && due < schedule.end;
         due = schedule.due()) {
        std::uint64_t lag = now - due;
        if (lag > kLateNanos) ++result->lateSends;
        if (lag > result->maxSendLagNanos) result->maxSendLagNanos = lag;
        Player& player = m_players[schedule.slot % m_players.size()];
        ++schedule.slot;
        if (player.joined && !player.removed) sendReport(player);
        now = monotonicNanos();
    }
    if (now >= schedule.end) {
        schedule.done = true;
        return false;
    }
    // Wake for the next send, or sooner for a window edge, where the CPU clocks are read.
    std::uint64_t next = schedule.due();
    if (schedule.phase == 0 && m_window.start < next) next = m_window.start;
    if (schedule.phase == 1 && m_window.end < next) next = m_window.end;
    if (schedule.end < next) next = schedule.end;
    return armTimer(next);
}

void Generator::settle(int quietMs, int maxMs) {
    std::uint64_t now = monotonicNanos();
    std::uint64_t deadline = now + static_cast<std::uint64_t>(maxMs) * 1000000;
    std::uint64_t quietUntil = now + static_cast<std::uint64_t>(quietMs) * 1000000;
    epoll_event events[kMaxEvents];
    while (now < deadline && now < quietUntil) {
        std::uint64_t until = quietUntil < deadline ? quietUntil : deadline;
        int count =
            epoll_wait(m_epoll, events, kMaxEvents, static_cast<int>((until - now) / 1000000) + 1);
        for (int i = 0; i < count; ++i) {
            if (events[i].data.u32 == kTimerTag) continue;
            drainSocket(m_players[events[i].data.u32]);
        }
        now = monotonicNanos();
        if (count > 0) quietUntil = now + static_cast<std::uint64_t>(quietMs) * 1000000;
    }
}

void Generator::quit() {
    if (m_setup.floor) return;
    unsigned char request[1] = {2};
    for (Player& player : m_players) {
        if (player.joined && !player.removed) sendSealed(player, request, 1);
        player.joined = false;
    }
}

}  // namespace zevload
