// One bound IPv4 UDP socket with byte counters and an optional send limit per period. The game
// endpoint (Server) and the admin endpoint (AdminServer) derive from it.
#pragma once

#include <netinet/in.h>

#include <cstdint>

// One datagram to send: its bytes stay the caller's until sendBatch returns.
struct OutgoingDatagram {
    sockaddr_in to;
    const unsigned char* data;
    int length;
};

// One datagram received by readBatch.
struct ReceivedDatagram {
    sockaddr_in from;
    int length;
    unsigned char data[1024];
};

class ServerInterface {
public:
    // Reads the send-limit keys, so the configuration must be loaded first.
    ServerInterface();
    virtual ~ServerInterface();

    ServerInterface(const ServerInterface&) = delete;
    ServerInterface& operator=(const ServerInterface&) = delete;

    // Binds `port` on `address` (dotted IPv4; null binds all interfaces). A port of 0 or less
    // fails silently; one above 65535 or a failed socket or bind fails with an ERROR line.
    bool startListening(int port, const char* address);
    // Closes the socket if open. Always true.
    bool stopListening();

    // Waits up to `timeoutMicros` for a readable datagram.
    bool hasDataArrived(int timeoutMicros);
    // Receives one datagram without waiting, cut to `size` bytes. Returns the byte count, 0 when
    // not listening, negative on an error or when nothing is waiting.
    int readData(sockaddr_in* sender, unsigned char* buffer, int size);
    // Sends one datagram, or drops it when this period's limit is reached (returns 0). Negative
    // on a send error.
    int sendData(const sockaddr_in* destination, const unsigned char* data, int length);
    // Receives up to `max` waiting datagrams at once, each cut to 1024 bytes. Returns how many,
    // 0 when not listening or nothing is waiting.
    int readBatch(ReceivedDatagram* datagrams, int max);
    // Sends the datagrams in order, each under the send limit exactly as sendData would, with
    // as few system calls as the kernel allows.
    void sendBatch(const OutgoingDatagram* datagrams, int count);
    // Starts a new send-limit period.
    void resetBytesSentSinceReset();

    // The bound address, dotted decimal (0.0.0.0 for all interfaces).
    const char* getServerIP() const;
    // Any IPv4 address as dotted decimal. The text lives in a static buffer that the next
    // conversion overwrites.
    static const char* getAsciiAddress(const sockaddr_in* address);

    std::int64_t getBytesRead() const { return m_bytesRead; }
    std::int64_t getBytesSent() const { return m_bytesSent; }
    std::uint64_t getDatagramsRead() const { return m_datagramsRead; }
    std::uint64_t getDatagramsSent() const { return m_datagramsSent; }
    // Datagrams and bytes the send limit kept back.
    std::uint64_t getDatagramsDropped() const { return m_datagramsDropped; }
    std::int64_t getBytesDropped() const { return m_bytesDropped; }
    int getLocalPort() const { return m_localPort; }
    bool isListening() const { return m_listening; }
    // The socket descriptor for the main loop's wait; -1 when not listening.
    int getSocketHandle() const { return m_listening ? m_socketHandle : -1; }

protected:
    // The raw send of one datagram; tests override it to capture what would go out.
    virtual int transmit(const sockaddr_in* destination, const unsigned char* data, int length);
    // The raw send of several datagrams: `sent[i]` gets the result for datagram i, as transmit
    // would give it.
    virtual void transmitBatch(const OutgoingDatagram* datagrams, int count, int* sent);

private:
    void countSent(int bytes);
    void dropDatagram(int length);
    void sendCounted(const OutgoingDatagram* datagrams, int count);

    sockaddr_in m_localAddress{};
    bool m_listening = false;
    std::int64_t m_bytesRead = 0;
    std::int64_t m_bytesSent = 0;
    std::int64_t m_bytesDropped = 0;
    std::uint64_t m_datagramsRead = 0;
    std::uint64_t m_datagramsSent = 0;
    std::uint64_t m_datagramsDropped = 0;
    int m_localPort = 0;
    int m_socketHandle = -1;
    bool m_sendLimitEnabled = false;
    std::uint32_t m_sendLimit = 0;
    std::uint32_t m_sendLimitMaxAllowed = 0;
    std::uint32_t m_bytesSentSinceReset = 0;
    std::uint32_t m_bytesSentOrDroppedSinceReset = 0;
};
