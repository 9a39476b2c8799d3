#include "LoopbackSocket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace zevload {

namespace {

constexpr int kClientsPerOctet = 250;
constexpr int kSocketBuffer = 4 << 20;

}  // namespace

std::uint32_t clientAddress(int addressBase, int index) {
    auto third = static_cast<std::uint32_t>(addressBase + index / kClientsPerOctet);
    auto fourth = static_cast<std::uint32_t>(1 + index % kClientsPerOctet);
    return 0x7F000000u | third << 8 | fourth;
}

int openClientSocket(std::uint32_t localAddress, int targetPort) {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        std::fprintf(stderr, "zevload: cannot open a socket: %s\n", std::strerror(errno));
        return -1;
    }
    // A full receive queue would count as loss of the server's.
    int size = kSocketBuffer;
    if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof(size)) != 0) {
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof(size));
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(localAddress);
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    target.sin_port = htons(static_cast<std::uint16_t>(targetPort));
    // Connected: the kernel skips the route lookup on every send and filters strangers.
    if (bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof(local)) != 0 ||
        connect(fd, reinterpret_cast<const sockaddr*>(&target), sizeof(target)) != 0) {
        char text[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &local.sin_addr, text, sizeof(text));
        std::fprintf(stderr, "zevload: cannot bind %s: %s\n", text, std::strerror(errno));
        close(fd);
        return -1;
    }
    return fd;
}

}  // namespace zevload
