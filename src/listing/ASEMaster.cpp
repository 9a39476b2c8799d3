#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "core/Clock.h"
#include "core/Conf.h"
#include "core/Number.h"
#include "listing/ASEQuery.h"
#include "listing/ASEState.h"

namespace {

constexpr int kMasterPort = 27900;
// Built-in masters: names under the reserved .invalid domain never resolve and the fallback is
// this machine, so a server whose operator set nothing never sends heartbeats elsewhere.
constexpr const char* kPrimaryMaster = "master1.zevserver.invalid";
constexpr const char* kSecondaryMaster = "master2.zevserver.invalid";
constexpr const char* kFallbackMaster = "127.0.0.1";

const char* setting(const char* key, const char* fallback) {
    const char* value = Conf::getInstance()->getConfEntryValue(key);
    return value != nullptr ? value : fallback;
}

bool endsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// "host" or "host:port" to an IPv4 address; the host is a dotted address or a name.
bool resolveMaster(const std::string& text, sockaddr_in* out) {
    std::string host = text;
    int port = kMasterPort;
    std::size_t colon = text.rfind(':');
    if (colon != std::string::npos) {
        host = text.substr(0, colon);
        port = parseIntClamped(text.c_str() + colon + 1);
        if (port <= 0 || port > 65535) return false;
    }
    *out = sockaddr_in{};
    out->sin_family = AF_INET;
    out->sin_port = htons(static_cast<std::uint16_t>(port));
    if (inet_pton(AF_INET, host.c_str(), &out->sin_addr) == 1) return true;
    // Names under .invalid never exist; asking a resolver would only wait on the network.
    if (host.empty() || endsWith(host, ".invalid")) return false;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) return false;
    std::memcpy(&out->sin_addr, &reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr,
                sizeof(out->sin_addr));
    freeaddrinfo(found);
    return true;
}

}  // namespace

int ASEMaster_init(const void* ownSocket) {
    AseState& s = aseState();
    std::string primary = setting("ASEMasterPrimary", kPrimaryMaster);
    bool resolved = resolveMaster(primary, &s.primary) || resolveMaster(primary, &s.primary);
    s.hasSecondary = resolveMaster(setting("ASEMasterSecondary", kSecondaryMaster), &s.secondary);
    s.fallback = !resolved;
    if (s.fallback && !resolveMaster(setting("ASEMasterFallback", kFallbackMaster), &s.primary)) {
        resolveMaster(kFallbackMaster, &s.primary);
    }
    int result = 1;
    if (ownSocket != nullptr && s.socket < 0) {
        s.socket = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (s.socket < 0) result = 0;
    }
    s.heartbeat = AseHeartbeatSchedule();
    return result;
}

int ASEMaster_heartbeat(int socketHandle, int queryPort, const char* gameName) {
    AseState& s = aseState();
    if (!s.ready || (socketHandle < 0 && s.socket < 0)) return -999;
    auto now = static_cast<std::uint32_t>(Clock::monotonicSeconds() * 1000);
    if (!s.heartbeat.take(now, s.fallback)) return 0;
    std::string text = aseHeartbeatText(queryPort, gameName);
    int from = s.socket >= 0 ? s.socket : socketHandle;
    auto send = [&](const sockaddr_in& to) {
        ssize_t sent = sendto(from, text.data(), text.size(), 0,
                              reinterpret_cast<const sockaddr*>(&to), sizeof(to));
        if (sent >= 0) {
            s.counters.bytesSent += static_cast<std::uint64_t>(sent);
            ++s.counters.datagramsSent;
        }
        return static_cast<int>(sent);
    };
    if (s.hasSecondary) send(s.secondary);
    return send(s.primary);
}

bool ASEMaster_usingFallback() { return aseState().fallback; }
