#include "zevadmin/Connection.h"

#include <linux/errqueue.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace zevadmin {

Connection::~Connection() {
    if (m_socket >= 0) close(m_socket);
}

bool Connection::open(const std::string& host, int port, std::string* error) {
    m_peer = host + ":" + std::to_string(port);
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    int status = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
    if (status != 0 || found == nullptr) {
        *error = "cannot find the IPv4 address of '" + host + "': " + gai_strerror(status);
        return false;
    }
    std::memcpy(&m_server, found->ai_addr, sizeof(m_server));
    freeaddrinfo(found);
    // An unconnected socket hears of a closed port only through its error queue.
    int on = 1;
    m_socket = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_socket < 0 || setsockopt(m_socket, IPPROTO_IP, IP_RECVERR, &on, sizeof(on)) != 0) {
        *error = "cannot open a UDP socket to " + m_peer;
        return false;
    }
    return true;
}

bool Connection::send(const Bytes& datagram) {
    if (m_socket < 0 || datagram.empty()) return false;
    return sendto(m_socket, datagram.data(), datagram.size(), 0,
                  reinterpret_cast<const sockaddr*>(&m_server),
                  sizeof(m_server)) == static_cast<ssize_t>(datagram.size());
}

Connection::Result Connection::receive(Bytes* datagram) {
    Result queued = takeErrors();
    if (queued != Result::Nothing) return queued;
    unsigned char buffer[kMaxDatagram];
    while (true) {
        sockaddr_in from{};
        socklen_t fromSize = sizeof(from);
        ssize_t n = recvfrom(m_socket, buffer, sizeof(buffer), 0,
                             reinterpret_cast<sockaddr*>(&from), &fromSize);
        if (n >= 0) {
            if (from.sin_port != m_server.sin_port) continue;
            datagram->assign(buffer, buffer + n);
            return Result::Datagram;
        }
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return Result::Nothing;
        // An ICMP error that came in since the queue was read.
        return errno == ECONNREFUSED ? Result::Refused : Result::Failed;
    }
}

Connection::Result Connection::takeErrors() {
    Result worst = Result::Nothing;
    while (true) {
        unsigned char control[512];
        msghdr message{};
        message.msg_control = control;
        message.msg_controllen = sizeof(control);
        if (recvmsg(m_socket, &message, MSG_ERRQUEUE) < 0) {
            if (errno == EINTR) continue;
            return worst;
        }
        for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
            if (c->cmsg_level != IPPROTO_IP || c->cmsg_type != IP_RECVERR) continue;
            sock_extended_err report;
            std::memcpy(&report, CMSG_DATA(c), sizeof(report));
            // Only datagrams to the server leave this socket, so every ICMP error is about it;
            // errors of local origin (a datagram too long) say nothing of the server.
            if (report.ee_origin != SO_EE_ORIGIN_ICMP) continue;
            if (report.ee_errno == ECONNREFUSED) {
                worst = Result::Refused;
            } else if (worst == Result::Nothing) {
                worst = Result::Failed;
            }
        }
    }
}

}  // namespace zevadmin
