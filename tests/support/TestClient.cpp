#include "support/TestClient.h"

#include <openssl/evp.h>

#include <chrono>
#include <cstring>

namespace {

// AES-128 in ECB over whole blocks, no padding of OpenSSL's own.
Bytes aesEcb(const std::uint8_t key[16], const Bytes& in, bool encrypt) {
    Bytes out(in.size() + 16);
    EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
    int length = 0;
    int total = 0;
    EVP_CipherInit_ex(context, EVP_aes_128_ecb(), nullptr, key, nullptr, encrypt ? 1 : 0);
    EVP_CIPHER_CTX_set_padding(context, 0);
    EVP_CipherUpdate(context, out.data(), &length, in.data(), static_cast<int>(in.size()));
    total = length;
    EVP_CipherFinal_ex(context, out.data() + total, &length);
    total += length;
    EVP_CIPHER_CTX_free(context);
    out.resize(static_cast<std::size_t>(total));
    return out;
}

}  // namespace

const std::uint8_t TestClient::kDefaultGeneralKey[16] = {'Z', 'e', 'v', 'S', 'e', 'r', 'v', 'e',
                                                         'r', 'G', 'e', 'n', 'K', 'e', 'y', '1'};

TestClient::TestClient(std::uint16_t serverPort, const std::string& address)
    : m_peer(address), m_serverPort(serverPort) {
    std::memcpy(m_generalKey, kDefaultGeneralKey, sizeof(m_generalKey));
}

void TestClient::setGeneralKey(const std::uint8_t key[16]) {
    std::memcpy(m_generalKey, key, sizeof(m_generalKey));
}

Bytes TestClient::joinRequest(const std::string& nick, const std::string& password,
                              std::uint8_t version, std::int8_t clientKind,
                              std::uint32_t checkValue) {
    Bytes datagram = {1, version, static_cast<std::uint8_t>(clientKind)};
    for (int shift = 0; shift < 32; shift += 8) {
        datagram.push_back(static_cast<std::uint8_t>(checkValue >> shift));
    }
    datagram.insert(datagram.end(), nick.begin(), nick.end());
    datagram.push_back('|');
    datagram.insert(datagram.end(), password.begin(), password.end());
    datagram.push_back(0);
    return datagram;
}

Bytes TestClient::seal(const std::uint8_t key[16], const Bytes& datagram) {
    Bytes plain = {static_cast<std::uint8_t>(datagram.size()),
                   static_cast<std::uint8_t>(datagram.size() >> 8)};
    plain.insert(plain.end(), datagram.begin(), datagram.end());
    plain.resize(plain.size() - plain.size() % 16 + 16, 0);
    return aesEcb(key, plain, true);
}

std::optional<Bytes> TestClient::open(const std::uint8_t key[16], const Bytes& sealed) {
    if (sealed.empty() || sealed.size() % 16 != 0) return std::nullopt;
    Bytes plain = aesEcb(key, sealed, false);
    std::size_t length = plain[0] | (plain[1] << 8);
    if (length + 2 > plain.size()) return std::nullopt;
    return Bytes(plain.begin() + 2, plain.begin() + 2 + static_cast<long>(length));
}

bool TestClient::send(const Bytes& datagram) {
    return sendRaw(seal(joined() ? m_uniqueKey : m_generalKey, datagram));
}

bool TestClient::sendWithGeneralKey(const Bytes& datagram) {
    return sendRaw(seal(m_generalKey, datagram));
}

bool TestClient::sendRaw(const Bytes& bytes) { return m_peer.sendTo(m_serverPort, bytes); }

std::optional<Bytes> TestClient::receive(int timeoutMs) {
    if (!m_pending.empty()) {
        Bytes first = m_pending.front();
        m_pending.pop_front();
        return first;
    }
    Bytes sealed;
    if (!m_peer.receive(sealed, timeoutMs)) return std::nullopt;
    return open(joined() ? m_uniqueKey : m_generalKey, sealed);
}

std::optional<Bytes> TestClient::receiveWithGeneralKey(int timeoutMs) {
    Bytes sealed;
    if (!m_peer.receive(sealed, timeoutMs)) return std::nullopt;
    return open(m_generalKey, sealed);
}

std::optional<Bytes> TestClient::waitFor(std::uint8_t code, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (true) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now())
                        .count();
        if (left <= 0) return std::nullopt;
        std::optional<Bytes> datagram = receive(static_cast<int>(left));
        if (datagram && !datagram->empty() && (*datagram)[0] == code) return datagram;
    }
}

bool TestClient::quietFor(int timeoutMs) {
    if (!m_pending.empty()) return false;
    Bytes ignored;
    return !m_peer.receive(ignored, timeoutMs);
}

std::optional<Bytes> TestClient::join(const std::string& nick, const std::string& password) {
    if (!sendWithGeneralKey(joinRequest(nick, password))) return std::nullopt;
    std::optional<Bytes> answer = receiveWithGeneralKey();
    if (answer && answer->size() >= 37 && (*answer)[0] == 1) {
        m_id = (*answer)[4];
        std::memcpy(m_uniqueKey, answer->data() + 21, sizeof(m_uniqueKey));
        send(Bytes{4});
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (std::chrono::steady_clock::now() < deadline) {
            Bytes sealed;
            if (!m_peer.receive(sealed, 100)) continue;
            std::optional<Bytes> opened = open(m_uniqueKey, sealed);
            if (!opened) continue;
            if (*opened == Bytes{5}) break;
            m_pending.push_back(*opened);
        }
    }
    return answer;
}
