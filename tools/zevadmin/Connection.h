// The admin client's UDP socket. It is left unconnected: a server bound to all interfaces
// answers from the address its routing picks, which need not be the one dialled, so any
// datagram from the server's port is taken as the server's.
#pragma once

#include <netinet/in.h>

#include <string>

#include "zevadmin/Protocol.h"

namespace zevadmin {

class Connection {
public:
    enum class Result { Datagram, Nothing, Refused, Failed };

    Connection() = default;
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Resolves `host` to an IPv4 address and opens a non-blocking socket that reports the ICMP
    // errors its datagrams cause. False with a one-line reason in `error`.
    bool open(const std::string& host, int port, std::string* error);

    bool send(const Bytes& datagram);
    // Takes one waiting datagram from the server's port into `datagram` (at most kMaxDatagram
    // bytes are kept) and drops those from other ports; Nothing when none waits, Refused when
    // nothing listens on the port, Failed when the server cannot be reached at all.
    Result receive(Bytes* datagram);

    int handle() const { return m_socket; }
    // "host:port" as given, for messages.
    const std::string& peer() const { return m_peer; }

private:
    // Empties the socket's error queue; Nothing when it held no ICMP error.
    Result takeErrors();

    int m_socket = -1;
    sockaddr_in m_server{};
    std::string m_peer;
};

}  // namespace zevadmin
