// The admin client's UDP socket, connected to the server's admin port so that only the server's
// datagrams arrive and a closed port shows up as a refused receive.
#pragma once

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

    // Resolves `host` to an IPv4 address and connects a non-blocking socket to it. False with a
    // one-line reason in `error`.
    bool open(const std::string& host, int port, std::string* error);

    bool send(const Bytes& datagram);
    // Takes one waiting datagram into `datagram` (at most kMaxDatagram bytes are kept); Nothing
    // when none waits, Refused when nothing listens on the port.
    Result receive(Bytes* datagram);

    int handle() const { return m_socket; }
    // "host:port" as given, for messages.
    const std::string& peer() const { return m_peer; }

private:
    int m_socket = -1;
    std::string m_peer;
};

}  // namespace zevadmin
