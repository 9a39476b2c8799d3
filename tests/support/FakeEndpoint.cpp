#include "support/FakeEndpoint.h"

#include <arpa/inet.h>

sockaddr_in loopbackAddress(int host, std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(0x7F000000u | static_cast<std::uint32_t>(host));
    return address;
}
