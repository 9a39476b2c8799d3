// The envelope of game datagrams on both key paths: the general key (newcomers) and a joined
// player's own key, against the contract in GameSession.h and net/Envelope.h.
//
// Input: one mode byte, then the bytes. Mode bits 0-1 pick the key path: 0 the general key,
// 1 the joined player's key, 2 an address that has not joined (the unique path must refuse it).
// Bit 2 treats the bytes as a plain envelope (length field, datagram, padding) and encrypts it
// block by block first, so that the fuzzer steers what the decryption finds. Bit 3 seals the
// bytes as a datagram instead and opens the result again, which must give them back; bit 4 then
// offers one byte less room than the envelope needs, which must be refused.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "FuzzSupport.h"
#include "core/Conf.h"
#include "game/GameSession.h"
#include "game/PlayerList.h"
#include "net/CRijndael.h"
#include "net/Envelope.h"
#include "net/GeneralKey.h"

namespace {

struct Fixture {
    fuzz::CountingEndpoint game{true};
    fuzz::CountingEndpoint admin{false};
    std::unique_ptr<GameSession> session;
    sockaddr_in player = fuzz::address(10, 0, 0, 1, 5001);
    sockaddr_in stranger = fuzz::address(10, 0, 0, 2, 5001);
    CRijndael generalCipher;
    CRijndael playerCipher;
};

Fixture* g_fixture = nullptr;

// Decrypts on the chosen path, as the main loop would.
int openOnPath(Fixture& f, int path, unsigned char* buffer, int received) {
    switch (path) {
        case 0:
            return f.session->decryptGeneralData(buffer, received);
        case 1:
            return f.session->decryptUniqueData(&f.player, buffer, received);
        default:
            return f.session->decryptUniqueData(&f.stranger, buffer, received);
    }
}

int sealOnPath(Fixture& f, int path, unsigned char* buffer, int length, int capacity) {
    switch (path) {
        case 0:
            return f.session->encryptGeneralData(buffer, length, capacity);
        case 1:
            return f.session->encryptUniqueData(&f.player, buffer, length, capacity);
        default:
            return f.session->encryptUniqueData(&f.stranger, buffer, length, capacity);
    }
}

// What opening a plain envelope of `size` bytes must give: its length field when the size is a
// positive multiple of 16 up to 1024 and the field claims 1 to size - 2 bytes, else 0.
int expectedLength(const std::vector<std::uint8_t>& plain) {
    int size = static_cast<int>(plain.size());
    if (size == 0 || size % 16 != 0 || size > kMaxDatagramSize) return 0;
    int length = plain[0] | (plain[1] << 8);
    return length >= 1 && length <= size - 2 ? length : 0;
}

void checkOpen(Fixture& f, int path, const std::vector<std::uint8_t>& bytes, bool preEncrypt) {
    std::vector<std::uint8_t> plain = bytes;
    fuzz::HeapBytes buffer(plain);
    int received = static_cast<int>(buffer.size());
    if (preEncrypt && received > 0 && received % 16 == 0) {
        const CRijndael& cipher = path == 0 ? f.generalCipher : f.playerCipher;
        CRijndael copy(cipher);
        copy.ResetChain();
        copy.Encrypt(reinterpret_cast<const char*>(plain.data()),
                     reinterpret_cast<char*>(buffer.data()), static_cast<unsigned>(received), 0);
    } else {
        preEncrypt = false;
    }
    std::vector<std::uint8_t> before(buffer.data(), buffer.data() + buffer.size());
    int length = openOnPath(f, path, buffer.data(), received);
    if (path == 2) {
        FUZZ_CHECK(length == -1);
        FUZZ_CHECK(before.empty() || std::memcmp(before.data(), buffer.data(), buffer.size()) == 0);
        return;
    }
    FUZZ_CHECK(length >= 0 && length <= kMaxDatagramSize);
    FUZZ_CHECK(length == 0 || length <= received - 2);
    if (!preEncrypt) return;
    FUZZ_CHECK(length == expectedLength(plain));
    if (length > 0) FUZZ_CHECK(std::memcmp(buffer.data(), plain.data() + 2, length) == 0);
}

void checkRoundTrip(Fixture& f, int path, const std::vector<std::uint8_t>& bytes, bool tight) {
    int length = static_cast<int>(bytes.size());
    int needed = envelopeSize(length);
    int capacity = tight ? needed - 1 : length + kEnvelopeOverhead;
    if (capacity < length) capacity = length;
    std::vector<std::uint8_t> room(static_cast<std::size_t>(capacity), 0);
    if (!bytes.empty()) std::memcpy(room.data(), bytes.data(), bytes.size());
    fuzz::HeapBytes buffer(room);
    int sealed = sealOnPath(f, path, buffer.data(), length, capacity);
    if (path == 2) {
        FUZZ_CHECK(sealed <= 0);
        if (length >= 1 && !tight) FUZZ_CHECK(sealed == -1);
        FUZZ_CHECK(std::memcmp(room.data(), buffer.data(), buffer.size()) == 0);
        return;
    }
    if (length < 1 || tight) {
        FUZZ_CHECK(sealed == 0);
        return;
    }
    FUZZ_CHECK(sealed == needed);
    int opened = openOnPath(f, path, buffer.data(), sealed);
    if (sealed > kMaxDatagramSize) {
        // Longer than a datagram the server reads.
        FUZZ_CHECK(opened == 0);
        return;
    }
    FUZZ_CHECK(opened == length);
    FUZZ_CHECK(std::memcmp(buffer.data(), bytes.data(), bytes.size()) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::quietProcess();
    Conf* conf = Conf::getInstance();
    conf->addConfEntry("GameMap", "3");
    conf->addConfEntry("MaxPlayers", "32");
    g_fixture = new Fixture;
    Fixture& f = *g_fixture;
    f.session = std::make_unique<GameSession>(f.game, f.admin);
    int id = PlayerList::getInstance()->addPlayer(&f.player, "Ann", 0);
    FUZZ_CHECK(id == 0);
    f.playerCipher = *PlayerList::getInstance()->getPlayerEncryption(id);
    unsigned char key[kGeneralKeySize];
    FUZZ_CHECK(loadGeneralKey(key) == GeneralKeyStatus::kOk);
    f.generalCipher.MakeKey(reinterpret_cast<const char*>(key), CRijndael::sm_chain0, 16, 16);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::FuzzInput input(data, size);
    std::uint8_t mode = input.u8();
    int path = (mode & 3) == 3 ? 0 : mode & 3;
    std::vector<std::uint8_t> bytes = input.bytes(2 * kMaxDatagramSize);
    if ((mode & 0x08) != 0) {
        checkRoundTrip(*g_fixture, path, bytes, (mode & 0x10) != 0);
    } else {
        checkOpen(*g_fixture, path, bytes, (mode & 0x04) != 0);
    }
    return 0;
}
