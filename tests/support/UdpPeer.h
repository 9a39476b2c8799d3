// A UDP socket on a loopback address, for tests that talk to the server as a client would.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <string>
#include <vector>

class UdpPeer {
public:
    // Binds `address` (any 127.x.y.z) on a port the system picks.
    explicit UdpPeer(const std::string& address = "127.0.0.1");
    ~UdpPeer();

    UdpPeer(const UdpPeer&) = delete;
    UdpPeer& operator=(const UdpPeer&) = delete;

    bool ok() const { return m_socket >= 0; }
    std::uint16_t port() const { return m_port; }
    int socketHandle() const { return m_socket; }

    bool sendTo(std::uint16_t port, const std::vector<std::uint8_t>& data,
                const std::string& address = "127.0.0.1");
    // Waits up to `timeoutMs` for one datagram; false when none arrived.
    bool receive(std::vector<std::uint8_t>& data, int timeoutMs, sockaddr_in* from = nullptr);

private:
    int m_socket = -1;
    std::uint16_t m_port = 0;
};

// A UDP port on 127.0.0.1 that was free a moment ago (and whose port + 123 was free too, for the
// listing responder). Ports handed out by one process are never repeated.
std::uint16_t pickFreeUdpPort();

// Whether `port` can be bound on all interfaces right now, that is, no socket holds it.
bool isUdpPortFree(std::uint16_t port);
// Bytes waiting unread in the receive queues of the sockets bound to `port` (as /proc/net/udp
// reports them); -1 when no socket is bound to it.
long udpReceiveQueue(std::uint16_t port);
