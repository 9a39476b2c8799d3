// A game client for black-box tests: speaks the encrypted envelope with its own AES (OpenSSL),
// independent of the server's cipher code, over a UdpPeer on any loopback address.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "support/UdpPeer.h"

using Bytes = std::vector<std::uint8_t>;

class TestClient {
public:
    static constexpr std::uint32_t kCheckValue = 0x5A17C3E9;
    // The text the server's built-in general key is made of.
    static const std::uint8_t kDefaultGeneralKey[16];

    explicit TestClient(std::uint16_t serverPort, const std::string& address = "127.0.0.1");

    UdpPeer& peer() { return m_peer; }
    int id() const { return m_id; }
    bool joined() const { return m_id >= 0; }
    void setGeneralKey(const std::uint8_t key[16]);

    // A join request datagram: [1, version, kind, check value, nick, "|", password, NUL].
    static Bytes joinRequest(const std::string& nick, const std::string& password = "",
                             std::uint8_t version = '2', std::int8_t clientKind = 0,
                             std::uint32_t checkValue = kCheckValue);

    // Seals `datagram` under the player's own key once joined, else the general key, and sends.
    bool send(const Bytes& datagram);
    bool sendWithGeneralKey(const Bytes& datagram);
    // Sends bytes as they are, with no envelope.
    bool sendRaw(const Bytes& bytes);

    // The next datagram, opened with the player's key once joined (else the general key);
    // nothing when none arrives in time or it does not open.
    std::optional<Bytes> receive(int timeoutMs = 2000);
    std::optional<Bytes> receiveWithGeneralKey(int timeoutMs = 2000);
    // Skips datagrams until one whose command byte is `code`.
    std::optional<Bytes> waitFor(std::uint8_t code, int timeoutMs = 2000);
    // True when nothing at all arrives within `timeoutMs`.
    bool quietFor(int timeoutMs);

    // Sends a join request and waits for the answer under the general key. On a join reply the
    // client takes its id and key from it and, as a real client does, speaks under its key at
    // once: the server relays the game to a newcomer only after that. It asks for a ping answer
    // and waits for it, so the server has seen the datagram when join returns; what arrives
    // meanwhile is kept for receive(). Returns the answer.
    std::optional<Bytes> join(const std::string& nick, const std::string& password = "");

    // The envelope operations, public for tests of their own.
    static Bytes seal(const std::uint8_t key[16], const Bytes& datagram);
    static std::optional<Bytes> open(const std::uint8_t key[16], const Bytes& sealed);

private:
    UdpPeer m_peer;
    std::uint16_t m_serverPort;
    std::uint8_t m_generalKey[16];
    std::uint8_t m_uniqueKey[16] = {};
    int m_id = -1;
    // Datagrams opened while join waited, served first by receive().
    std::deque<Bytes> m_pending;
};
