#include "zevadmin/Connection.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

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
    m_socket = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    bool connected = m_socket >= 0 && connect(m_socket, found->ai_addr, found->ai_addrlen) == 0;
    freeaddrinfo(found);
    if (!connected) *error = "cannot open a UDP socket to " + m_peer;
    return connected;
}

bool Connection::send(const Bytes& datagram) {
    if (m_socket < 0 || datagram.empty()) return false;
    return ::send(m_socket, datagram.data(), datagram.size(), 0) ==
           static_cast<ssize_t>(datagram.size());
}

Connection::Result Connection::receive(Bytes* datagram) {
    unsigned char buffer[kMaxDatagram];
    while (true) {
        ssize_t n = recv(m_socket, buffer, sizeof(buffer), 0);
        if (n >= 0) {
            datagram->assign(buffer, buffer + n);
            return Result::Datagram;
        }
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return Result::Nothing;
        return errno == ECONNREFUSED ? Result::Refused : Result::Failed;
    }
}

}  // namespace zevadmin
