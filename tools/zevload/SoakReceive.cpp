#include <sys/socket.h>

#include <algorithm>
#include <string>

#include "Generator.h"
#include "LoadProtocol.h"
#include "SoakRun.h"
#include "SoakWire.h"
#include "net/Envelope.h"

namespace zevload {

namespace {

constexpr int kBufferSize = 8192;
// Datagrams read from one socket per wake-up, so that no socket starves the others (the epoll
// set is level-triggered: the rest is read at the next turn).
constexpr int kReadsPerWake = 64;

// The datagram waiting on `fd`, or 0 when none is.
int receive(int fd, unsigned char* buffer) {
    ssize_t received = recv(fd, buffer, kBufferSize, MSG_DONTWAIT | MSG_TRUNC);
    return received > 0 && received <= kBufferSize ? static_cast<int>(received) : 0;
}

}  // namespace

void SoakRun::drain(std::uint32_t tag) {
    if (tag < m_players.size()) return drainPlayer(m_players[tag]);
    if (tag == kAdminTag) return drainAdmin(m_admin);
    if (tag == kAuditorTag) return drainAdmin(m_auditor);
    if (tag == kQueryTag) return drainQuery();
}

void SoakRun::drainPlayer(Player& player) {
    unsigned char buffer[kBufferSize];
    for (int i = 0; i < kReadsPerWake; ++i) {
        int received = receive(player.fd, buffer);
        if (received == 0) return;
        // Until its join reply a player reads the general key; copies sealed under its old key
        // that arrive after its quit open with neither and are only counted.
        int length =
            openEnvelope(player.joined ? player.cipher : m_generalCipher, buffer, received);
        if (length > 0) {
            onPlayerDatagram(player, buffer, length);
        } else {
            ++m_counts.unopened;
        }
    }
}

void SoakRun::onPlayerDatagram(Player& player, const unsigned char* data, int length) {
    if (!player.joined) return onJoinAnswer(player, data, length);
    unsigned char reply[16];
    switch (data[0]) {
        case 10: {
            RecordStamp stamp;
            if (!parseRelayedRecord(data, length, 2, &stamp)) return;
            ++m_counts.copiesReceived;
            std::uint64_t now = monotonicNanos();
            m_latency.record(now > stamp.sendNanos ? now - stamp.sendNanos : 0);
            return;
        }
        case 4:
            sendSealed(player, reply,
                       buildPingReply(reply, player.id, static_cast<int>(player.nick.size())));
            ++m_counts.pingsAnswered;
            return;
        case 25:
            sendSealed(player, reply, buildCheckReply(reply));
            return;
        case 6: {
            int reason = length >= 2 ? data[1] : -1;
            m_seen.unexpectedRemovals.push_back(player.nick + " was told [6, " +
                                                std::to_string(reason) + "] (" +
                                                refusalText(reason) + ")");
            player.joined = false;
            return;
        }
        case 23:
            // During play these are other players' skin changes; in the audit, the answers.
            if (m_collectSkins && length >= 3) m_seen.skins[data[1]] = data[2];
            return;
        default:
            return;
    }
}

void SoakRun::onJoinAnswer(Player& player, const unsigned char* data, int length) {
    if (!player.joining) return;
    if (data[0] == 6) {
        int reason = length >= 2 ? data[1] : -1;
        m_seen.scriptProblems.push_back("the join of " + player.nick + " was refused: reason " +
                                        std::to_string(reason) + " (" + refusalText(reason) + ")");
        player.joining = false;
        return;
    }
    JoinReply reply;
    if (data[0] != 1 || !parseJoinReply(data, length, &reply)) return;
    player.id = reply.id;
    player.cipher.MakeKey(reinterpret_cast<const char*>(reply.key), CRijndael::sm_chain0, 16, 16);
    player.joining = false;
    player.joined = true;
    player.heard = false;
}

void SoakRun::drainAdmin(Admin& admin) {
    unsigned char buffer[kBufferSize];
    for (int i = 0; i < kReadsPerWake; ++i) {
        int received = receive(admin.fd, buffer);
        if (received == 0) return;
        onAdminDatagram(admin, buffer, received);
    }
}

void SoakRun::onAdminDatagram(Admin& admin, const unsigned char* data, int length) {
    bool main = &admin == &m_admin;
    switch (data[0]) {
        case 1:
            if (!main) m_seen.listedReceived = parseAdminJoinReply(data, length, &m_seen.listed);
            admin.loggedIn = true;
            return;
        case 6:
            admin.refused = !admin.loggedIn;
            return;
        case 4: {
            const unsigned char keepAlive[1] = {5};
            sendPlain(admin.fd, keepAlive, sizeof(keepAlive));
            if (!main) return;
            ++m_counts.keepAlives;
            std::uint64_t now = monotonicNanos();
            m_pingSeconds.insert(static_cast<std::int64_t>(now / 1000000000ULL));
            if (m_playStart > 0 && now < m_playEnd && m_counts.lastPingNanos > 0) {
                m_counts.longestPingGapNanos =
                    std::max(m_counts.longestPingGapNanos, now - m_counts.lastPingNanos);
            }
            m_counts.lastPingNanos = now;
            return;
        }
        case 10:
            if (main) ++m_counts.feedPackets;
            return;
        case 3:
            if (main) ++m_counts.chatSeen;
            return;
        case 9:
            if (main && length >= 3) onLeaveNotice(data[1], data[2]);
            return;
        case 16:
        case 28:
            if (main) onAdminReply(data[0], length >= 2 ? data[1] : -1);
            return;
        case 17:
            m_seen.banReply = splitBanList(data + 1, length - 1);
            m_seen.banReplyReceived = true;
            return;
        default:
            return;
    }
}

void SoakRun::onLeaveNotice(int reason, int id) {
    if (m_closing) return;
    auto pending = m_pendingQuits.find(id);
    if (reason == 0 && pending != m_pendingQuits.end()) {
        m_pendingQuits.erase(pending);
        ++m_seen.quitNotices;
        return;
    }
    const Player* player = playerWithId(id);
    m_seen.unexpectedRemovals.push_back((player != nullptr ? player->nick : "a player") + " (id " +
                                        std::to_string(id) + ") left with reason " +
                                        std::to_string(reason));
}

void SoakRun::onAdminReply(int code, int result) {
    std::string reply = std::to_string(code);
    reply.insert(0, 1, '[');
    reply.append(", ").append(std::to_string(result)).push_back(']');
    if (m_pendingAdminReplies.empty() || m_pendingAdminReplies.front() != code) {
        m_seen.scriptProblems.push_back("an admin reply out of turn: " + reply);
        return;
    }
    m_pendingAdminReplies.pop_front();
    if (result != 1) m_seen.scriptProblems.push_back("an admin request was answered " + reply);
}

void SoakRun::drainQuery() {
    unsigned char buffer[kBufferSize];
    for (int i = 0; i < kReadsPerWake; ++i) {
        int received = receive(m_query, buffer);
        if (received == 0) return;
        StatusReply reply;
        if (!parseStatusReply(buffer, received, &reply)) continue;
        ++m_counts.statusReplies;
        if (!m_collectStatus) continue;
        m_seen.status = reply;
        m_seen.statusReceived = true;
    }
}

}  // namespace zevload
