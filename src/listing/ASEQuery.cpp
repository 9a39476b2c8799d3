#include "listing/ASEQuery.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "core/Clock.h"
#include "listing/ASEFormat.h"
#include "listing/ASEState.h"

const char* ASEQuery_error = nullptr;

namespace {

constexpr int kSocketAttempts = 8;
constexpr int kBindAttempts = 64;
constexpr int kBindAttemptsOnAddress = 33;
constexpr std::size_t kQueryReadSize = 4096;
constexpr std::size_t kReplyLimit = 6144;
constexpr std::size_t kMaxPingQuery = 19;
constexpr std::size_t kVerifyQuery = 9;
constexpr std::size_t kMaxGameNameReply = 500;
constexpr int kQueryPortOffset = 123;
constexpr int kMaxQueriesPerTurn = 256;

AseState& state() { return aseState(); }

bool bindQueryPort(int socketHandle, in_addr_t address, int port) {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = address;
    local.sin_port = htons(static_cast<std::uint16_t>(port));
    return port <= 65535 &&
           bind(socketHandle, reinterpret_cast<const sockaddr*>(&local), sizeof(local)) == 0;
}

// Tries the query ports upward; with a bind address, falls back to any interface from the
// first port after 33 failures. 64 failures in all give up.
bool bindWithRetries(int socketHandle, in_addr_t address, int firstPort, int* boundPort) {
    int port = firstPort;
    for (int failures = 0; failures < kBindAttempts;) {
        if (bindQueryPort(socketHandle, address, port)) {
            *boundPort = port;
            return true;
        }
        ++failures;
        ++port;
        if (failures == kBindAttemptsOnAddress && address != htonl(INADDR_ANY)) {
            address = htonl(INADDR_ANY);
            port = firstPort;
        }
    }
    return false;
}

void sendTo(const sockaddr_in& to, const unsigned char* data, std::size_t length) {
    AseState& s = state();
    ssize_t sent =
        sendto(s.socket, data, length, 0, reinterpret_cast<const sockaddr*>(&to), sizeof(to));
    if (sent < 0) return;
    s.counters.bytesSent += static_cast<std::uint64_t>(sent);
    ++s.counters.datagramsSent;
}

void answerStatus(const sockaddr_in& from) {
    AseState& s = state();
    std::size_t position = 0;
    std::memcpy(s.packet, "EYE1", 4);
    position = 4;
    aseAppendString(s.packet, &position, sizeof(s.packet), s.gameName);
    aseAppendNumber(s.packet, &position, sizeof(s.packet), s.gamePort);
    s.position = position;
    s.limit = kReplyLimit;
    ASEQuery_wantstatus();
    ASEQuery_wantrules();
    if (s.position + 1 <= s.limit) s.packet[s.position++] = 0x01;
    ASEQuery_wantplayers();

    std::uint32_t address;
    std::memcpy(&address, &from.sin_addr, sizeof(address));
    if (s.position > kAseMaxUnfragmented) {
        s.fragmentId += address + s.heartbeat.nextTime() + 11;
    }
    for (const std::vector<std::uint8_t>& fragment :
         aseFragments(s.packet, s.position, s.fragmentId)) {
        sendTo(from, fragment.data(), fragment.size());
    }
}

void answer(std::size_t length, const sockaddr_in& from) {
    AseState& s = state();
    const unsigned char first = s.packet[0];
    if (first != 's' && first != 'p' && first != 'g' && first != 'v') return;
    if (!s.replies.allow(ntohl(from.sin_addr.s_addr), Clock::monotonicMillis())) {
        ++s.counters.repliesSuppressed;
        return;
    }
    switch (first) {
        case 's':
            ++s.counters.repliesSent;
            return answerStatus(from);
        case 'p':
            if (length > kMaxPingQuery || !s.announce) return;
            ++s.counters.repliesSent;
            s.packet[0] = 'P';
            return sendTo(from, s.packet, length);
        case 'g': {
            unsigned char reply[1 + kMaxGameNameReply];
            ++s.counters.repliesSent;
            reply[0] = 'G';
            std::size_t nameLength = strnlen(s.gameName, kMaxGameNameReply);
            std::memcpy(reply + 1, s.gameName, nameLength);
            return sendTo(from, reply, nameLength + 1);
        }
        case 'v': {
            // Only the primary master's network may ask.
            std::uint32_t sender = ntohl(from.sin_addr.s_addr);
            std::uint32_t master = ntohl(s.primary.sin_addr.s_addr);
            if (length != kVerifyQuery || (sender >> 8) != (master >> 8)) return;
            ++s.counters.repliesSent;
            std::uint32_t value = aseVerify(s.verification, s.packet + 1);
            const unsigned char reply[5] = {
                'V', static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
                static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 24)};
            return sendTo(from, reply, sizeof(reply));
        }
        default:
            return;
    }
}

bool hasWaitingDatagram(int socketHandle) {
    pollfd entry{socketHandle, POLLIN, 0};
    return poll(&entry, 1, 0) == 1 && (entry.revents & POLLIN) != 0;
}

}  // namespace

int ASEQuery_initialize(int gamePort, int announce, const char* bindAddress) {
    AseState& s = state();
    if (s.ready && s.socket >= 0) close(s.socket);
    s.ready = false;
    s.socket = -1;
    in_addr_t address = htonl(INADDR_ANY);
    in_addr converted{};
    if (bindAddress != nullptr && inet_pton(AF_INET, bindAddress, &converted) == 1) {
        address = converted.s_addr;
    }
    s.gamePort = gamePort;
    s.queryPort = gamePort + kQueryPortOffset;
    aseBuildVerificationTable(s.verification, &s.verificationSeed);

    for (int attempt = 0; attempt < kSocketAttempts && s.socket < 0; ++attempt) {
        s.socket = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    }
    if (s.socket < 0) {
        ASEQuery_error = "socket failed";
        return 0;
    }
    int bound = 0;
    if (!bindWithRetries(s.socket, address, s.queryPort, &bound)) {
        close(s.socket);
        s.socket = -1;
        ASEQuery_error = "bind failed";
        return 0;
    }
    s.queryPort = bound;
    s.blocking = true;
    for (int attempt = 0; attempt < kSocketAttempts && s.blocking; ++attempt) {
        int flags = fcntl(s.socket, F_GETFL, 0);
        s.blocking = flags < 0 || fcntl(s.socket, F_SETFL, flags | O_NONBLOCK) != 0;
    }
    if (announce != 0 && ASEMaster_init(nullptr) == 0) {
        close(s.socket);
        s.socket = -1;
        ASEQuery_error = "unable to resolve master address";
        return 0;
    }
    s.announce = announce != 0;
    s.ready = true;
    return 1;
}

int ASEQuery_init(int gamePort, int announce) {
    return ASEQuery_initialize(gamePort, announce, nullptr);
}

int ASEQuery_check() {
    AseState& s = state();
    if (!s.ready) {
        ASEQuery_error = "not initialized";
        return 0;
    }
    // Bounded like the other ports, so a query flood cannot hold the loop; what is left waits
    // for the next turn.
    for (int turn = 0; turn < kMaxQueriesPerTurn; ++turn) {
        if (s.blocking && !hasWaitingDatagram(s.socket)) break;
        sockaddr_in from{};
        socklen_t fromLength = sizeof(from);
        ssize_t count = recvfrom(s.socket, s.packet, kQueryReadSize, MSG_DONTWAIT,
                                 reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (count < 0) break;
        s.counters.bytesRead += static_cast<std::uint64_t>(count);
        ++s.counters.datagramsRead;
        if (count == 0) continue;
        answer(static_cast<std::size_t>(count), from);
    }
    if (s.announce) ASEMaster_heartbeat(s.socket, s.queryPort, s.gameName);
    return 1;
}

void ASEQuery_shutdown() {
    AseState& s = state();
    if (s.ready && s.socket >= 0) close(s.socket);
    s.socket = -1;
    s.ready = false;
}

void ASEQuery_status(const char* serverName, const char* gameType, const char* mapName,
                     const char* version, int passworded, int players, int maxPlayers) {
    AseState& s = state();
    if (s.position + 1 > s.limit) return;
    std::size_t end = sizeof(s.packet);
    aseAppendString(s.packet, &s.position, end, serverName);
    aseAppendString(s.packet, &s.position, end, gameType);
    aseAppendString(s.packet, &s.position, end, mapName);
    aseAppendString(s.packet, &s.position, end, version);
    aseAppendNumber(s.packet, &s.position, end, passworded);
    aseAppendNumber(s.packet, &s.position, end, players);
    aseAppendNumber(s.packet, &s.position, end, maxPlayers);
}

void ASEQuery_addrule(const char* key, const char* value) {
    AseState& s = state();
    if (s.position + 1 > s.limit) return;
    aseAppendString(s.packet, &s.position, sizeof(s.packet), key);
    aseAppendString(s.packet, &s.position, sizeof(s.packet), value);
}

void ASEQuery_addplayer(const char* name, const char* team, const char* skin, const char* score,
                        const char* ping, const char* time) {
    AseState& s = state();
    if (s.position + 1 > s.limit) return;
    const char* fields[] = {name, team, skin, score, ping, time};
    unsigned char flags = 0;
    for (int i = 0; i < 6; ++i) {
        if (fields[i] != nullptr) flags = static_cast<unsigned char>(flags | (1u << i));
    }
    s.packet[s.position++] = flags;
    for (const char* field : fields) {
        if (field != nullptr) aseAppendString(s.packet, &s.position, sizeof(s.packet), field);
    }
}

int ASEQuery_socket() { return state().ready ? state().socket : -1; }

int ASEQuery_port() { return state().ready ? state().queryPort : 0; }
