// An endpoint that records what would be sent instead of sending it, for unit tests that drive
// the game session directly. It reads the send-limit settings like a real endpoint.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <vector>

#include "net/ServerInterface.h"

struct SentDatagram {
    sockaddr_in to;
    std::vector<std::uint8_t> bytes;
};

class FakeEndpoint : public ServerInterface {
public:
    std::vector<SentDatagram> sent;

protected:
    int transmit(const sockaddr_in* destination, const unsigned char* data, int length) override {
        sent.push_back({*destination, std::vector<std::uint8_t>(data, data + length)});
        return length;
    }
    void transmitBatch(const OutgoingDatagram* datagrams, int count, int* result) override {
        for (int i = 0; i < count; ++i) {
            result[i] = transmit(&datagrams[i].to, datagrams[i].data, datagrams[i].length);
        }
    }
};

// A loopback IPv4 address with `host` as its last octet.
sockaddr_in loopbackAddress(int host, std::uint16_t port);
