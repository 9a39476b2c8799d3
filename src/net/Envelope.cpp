#include "net/Envelope.h"

#include <cstring>

int sealEnvelope(const CRijndael& cipher, const unsigned char* data, int length, unsigned char* out,
                 int capacity) {
    if (length < 1 || length > 0xFFFF) return 0;
    int total = envelopeSize(length);
    if (total > capacity) return 0;
    // Move the datagram first: `out` may be `data`, and the header goes in front of it.
    std::memmove(out + 2, data, static_cast<std::size_t>(length));
    out[0] = static_cast<unsigned char>(length & 0xFF);
    out[1] = static_cast<unsigned char>(length >> 8);
    std::memset(out + 2 + length, 0, static_cast<std::size_t>(total - 2 - length));
    // In ECB every block stands alone, so the keyed cipher is used as it is, with no copy.
    for (int offset = 0; offset < total; offset += 16) {
        auto* block = reinterpret_cast<char*>(out + offset);
        cipher.EncryptBlock(block, block);
    }
    return total;
}

int openEnvelope(const CRijndael& cipher, unsigned char* data, int received) {
    if (received <= 0 || received % 16 != 0 || received > kMaxDatagramSize) return 0;
    if (!cipher.isKeyed()) return 0;
    for (int offset = 0; offset < received; offset += 16) {
        auto* block = reinterpret_cast<char*>(data + offset);
        cipher.DecryptBlock(block, block);
    }
    int length = data[0] | (data[1] << 8);
    // A length beyond what arrived would make the server read, and relay, bytes nobody sent.
    if (length == 0 || length > kMaxDatagramSize || length + 2 > received) return 0;
    std::memmove(data, data + 2, static_cast<std::size_t>(length));
    return length;
}
