#include "support/UdpPeer.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>

namespace {

sockaddr_in makeAddress(const std::string& address, std::uint16_t port) {
    sockaddr_in out{};
    out.sin_family = AF_INET;
    out.sin_port = htons(port);
    inet_pton(AF_INET, address.c_str(), &out.sin_addr);
    return out;
}

}  // namespace

bool isUdpPortFree(std::uint16_t port) {
    int probe = socket(AF_INET, SOCK_DGRAM, 0);
    if (probe < 0) return false;
    sockaddr_in address = makeAddress("0.0.0.0", port);
    bool free = bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    close(probe);
    return free;
}

UdpPeer::UdpPeer(const std::string& address) {
    m_socket = socket(AF_INET, SOCK_DGRAM, 0);
    if (m_socket < 0) return;
    sockaddr_in local = makeAddress(address, 0);
    socklen_t length = sizeof(local);
    if (bind(m_socket, reinterpret_cast<sockaddr*>(&local), sizeof(local)) != 0 ||
        getsockname(m_socket, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
        close(m_socket);
        m_socket = -1;
        return;
    }
    m_port = ntohs(local.sin_port);
}

UdpPeer::~UdpPeer() {
    if (m_socket >= 0) close(m_socket);
}

bool UdpPeer::sendTo(std::uint16_t port, const std::vector<std::uint8_t>& data,
                     const std::string& address) {
    sockaddr_in to = makeAddress(address, port);
    ssize_t sent =
        sendto(m_socket, data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof(to));
    return sent == static_cast<ssize_t>(data.size());
}

bool UdpPeer::receive(std::vector<std::uint8_t>& data, int timeoutMs, sockaddr_in* from) {
    pollfd entry{m_socket, POLLIN, 0};
    if (poll(&entry, 1, timeoutMs) != 1) return false;
    data.resize(65536);
    sockaddr_in sender{};
    socklen_t length = sizeof(sender);
    ssize_t count = recvfrom(m_socket, data.data(), data.size(), 0,
                             reinterpret_cast<sockaddr*>(&sender), &length);
    if (count < 0) return false;
    data.resize(static_cast<std::size_t>(count));
    if (from != nullptr) *from = sender;
    return true;
}

std::uint16_t pickFreeUdpPort() {
    static std::set<std::uint16_t> handedOut;
    // Spread by process id so that test binaries running side by side rarely collide.
    std::uint16_t candidate = static_cast<std::uint16_t>(20000 + (getpid() * 97) % 30000);
    for (int tries = 0; tries < 20000; ++tries) {
        candidate = static_cast<std::uint16_t>(candidate + 1);
        if (candidate < 20000 || candidate > 60000) candidate = 20000;
        if (handedOut.count(candidate) != 0) continue;
        if (isUdpPortFree(candidate) &&
            isUdpPortFree(static_cast<std::uint16_t>(candidate + 123))) {
            handedOut.insert(candidate);
            return candidate;
        }
    }
    return 0;
}

long udpReceiveQueue(std::uint16_t port) {
    std::ifstream table("/proc/net/udp");
    std::string line;
    std::getline(table, line);  // the column titles
    long total = -1;
    while (std::getline(table, line)) {
        // "sl local_address rem_address st tx_queue:rx_queue ...", addresses as "ADDR:PORT" in hex.
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues;
        if (!(fields >> slot >> local >> remote >> state >> queues)) continue;
        std::size_t colon = local.find(':');
        std::size_t split = queues.find(':');
        if (colon == std::string::npos || split == std::string::npos) continue;
        if (std::strtoul(local.c_str() + colon + 1, nullptr, 16) != port) continue;
        total = std::max(total, 0L) +
                static_cast<long>(std::strtoul(queues.c_str() + split + 1, nullptr, 16));
    }
    return total;
}
