// Rijndael as the server uses it: AES with 16-, 24- or 32-byte keys over 16-byte blocks, in
// ECB, CBC or CFB mode. The game envelope uses only AES-128 in ECB mode. Blocks of 24 or 32
// bytes (Rijndael beyond AES) are refused like any other invalid length.
#pragma once

#include <cstdint>

class CRijndael {
public:
    enum { ECB = 0, CBC = 1, CFB = 2 };

    // A chaining block of 32 zero bytes, the initial chain of every key the server makes.
    static const char sm_chain0[32];

    CRijndael() = default;
    // Copies carry the whole keyed state and encrypt exactly as the original.
    CRijndael(const CRijndael&) = default;
    CRijndael& operator=(const CRijndael&) = default;

    // Keys the cipher with the first `keyLength` raw bytes of `key` and takes `blockSize` bytes
    // of `chain` as the initial and current chaining block. Does nothing when `key` is null,
    // `keyLength` is not 16, 24 or 32, or `blockSize` is not 16.
    void MakeKey(const char* key, const char* chain, int keyLength = 16, int blockSize = 16);

    // One block; nothing happens on an unkeyed cipher.
    void EncryptBlock(const char* in, char* out) const;
    void DecryptBlock(const char* in, char* out) const;

    // `n` bytes in `mode`. Does nothing (leaves `out` untouched) when the cipher is not keyed,
    // `n` is 0 or not a multiple of the block length, or `mode` is none of the three. CBC and
    // CFB use and update the current chaining block. `in` and `out` may be the same buffer.
    void Encrypt(const char* in, char* out, unsigned n, int mode = ECB);
    void Decrypt(const char* in, char* out, unsigned n, int mode = ECB);

    // Copies the initial chaining block over the current one.
    void ResetChain();

    bool isKeyed() const { return m_keyed; }

    // Whether blocks go through the processor's AES instructions (when it has them) or the
    // portable tables. Both give the same bytes; tests switch to compare them.
    static bool hardwareAvailable();
    static void setHardwareAllowed(bool allowed);

private:
    static constexpr int kBlock = 16;
    static constexpr int kMaxRounds = 14;

    bool m_keyed = false;
    int m_keyLength = 0;
    int m_blockSize = 0;
    int m_rounds = 0;
    std::uint32_t m_encryptKeys[4 * (kMaxRounds + 1)] = {};
    std::uint32_t m_decryptKeys[4 * (kMaxRounds + 1)] = {};
    // The same round keys as bytes in block order, the form the AES instructions take.
    unsigned char m_encryptKeyBytes[16 * (kMaxRounds + 1)] = {};
    unsigned char m_decryptKeyBytes[16 * (kMaxRounds + 1)] = {};
    unsigned char m_chain0[kBlock] = {};
    unsigned char m_chain[kBlock] = {};
};
