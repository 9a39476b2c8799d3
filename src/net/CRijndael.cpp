#include "net/CRijndael.h"

#include <array>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define ZEV_HAVE_AESNI 1
#endif

namespace {

using Byte = unsigned char;
using Word = std::uint32_t;

// Multiplication by x in GF(2^8) modulo the AES polynomial x^8 + x^4 + x^3 + x + 1.
constexpr Byte xtime(Byte b) {
    return static_cast<Byte>((b << 1) ^ ((b & 0x80) != 0 ? 0x1b : 0x00));
}

constexpr Byte gfMul(Byte a, Byte b) {
    Byte product = 0;
    for (; b != 0; b = static_cast<Byte>(b >> 1)) {
        if ((b & 1) != 0) product = static_cast<Byte>(product ^ a);
        a = xtime(a);
    }
    return product;
}

constexpr Byte rotl8(Byte b, int n) { return static_cast<Byte>((b << n) | (b >> (8 - n))); }

// Words hold a state column (or key word) with its first byte in the top bits, the order in
// which FIPS-197 writes them, so byte i of a block is bits 31 - 8i down to 24 - 8i.
constexpr Word pack(Byte b0, Byte b1, Byte b2, Byte b3) {
    return (Word{b0} << 24) | (Word{b1} << 16) | (Word{b2} << 8) | Word{b3};
}

constexpr Byte byte0(Word w) { return static_cast<Byte>(w >> 24); }
constexpr Byte byte1(Word w) { return static_cast<Byte>(w >> 16); }
constexpr Byte byte2(Word w) { return static_cast<Byte>(w >> 8); }
constexpr Byte byte3(Word w) { return static_cast<Byte>(w); }

// Each round of the cipher is four lookups per column: the tables fold SubBytes (or its
// inverse) and one column of MixColumns (or InvMixColumns) together; tables 1 to 3 are table 0
// rotated so that the row a byte sits in picks the matching column of the matrix.
struct Tables {
    std::array<Byte, 256> sbox{};
    std::array<Byte, 256> invSbox{};
    std::array<std::array<Word, 256>, 4> te{};
    std::array<std::array<Word, 256>, 4> td{};
};

constexpr Word rotateRightBytes(Word w, int bytes) {
    return bytes == 0 ? w : (w >> (8 * bytes)) | (w << (32 - 8 * bytes));
}

constexpr Tables makeTables() {
    Tables t;
    // 3 generates the multiplicative group, so inverses come from its powers and logarithms.
    std::array<Byte, 256> power{};
    std::array<Byte, 256> logarithm{};
    Byte x = 1;
    for (int i = 0; i < 255; ++i) {
        power[i] = x;
        logarithm[x] = static_cast<Byte>(i);
        x = static_cast<Byte>(x ^ xtime(x));
    }
    for (int i = 0; i < 256; ++i) {
        const Byte inverse = i == 0 ? Byte{0} : power[(255 - logarithm[i]) % 255];
        const Byte s = static_cast<Byte>(inverse ^ rotl8(inverse, 1) ^ rotl8(inverse, 2) ^
                                         rotl8(inverse, 3) ^ rotl8(inverse, 4) ^ 0x63);
        t.sbox[i] = s;
        t.invSbox[s] = static_cast<Byte>(i);
    }
    for (int i = 0; i < 256; ++i) {
        const Byte s = t.sbox[i];
        const Byte v = t.invSbox[i];
        const Word e = pack(gfMul(s, 2), s, s, gfMul(s, 3));
        const Word d = pack(gfMul(v, 14), gfMul(v, 9), gfMul(v, 13), gfMul(v, 11));
        for (int r = 0; r < 4; ++r) {
            t.te[r][i] = rotateRightBytes(e, r);
            t.td[r][i] = rotateRightBytes(d, r);
        }
    }
    return t;
}

constexpr Tables kTables = makeTables();
static_assert(kTables.sbox[0x00] == 0x63 && kTables.sbox[0x53] == 0xed);

constexpr const auto& kSbox = kTables.sbox;
constexpr const auto& kInvSbox = kTables.invSbox;
constexpr const auto& kTe0 = kTables.te[0];
constexpr const auto& kTe1 = kTables.te[1];
constexpr const auto& kTe2 = kTables.te[2];
constexpr const auto& kTe3 = kTables.te[3];
constexpr const auto& kTd0 = kTables.td[0];
constexpr const auto& kTd1 = kTables.td[1];
constexpr const auto& kTd2 = kTables.td[2];
constexpr const auto& kTd3 = kTables.td[3];

inline Word load(const Byte* p) { return pack(p[0], p[1], p[2], p[3]); }

inline void store(Word w, Byte* p) {
    p[0] = byte0(w);
    p[1] = byte1(w);
    p[2] = byte2(w);
    p[3] = byte3(w);
}

// One output column of a last round: row r is taken from column `cr`, the one the row shift
// brought to it.
inline Word substitute(const std::array<Byte, 256>& box, Word c0, Word c1, Word c2, Word c3) {
    return pack(box[byte0(c0)], box[byte1(c1)], box[byte2(c2)], box[byte3(c3)]);
}

Word subWord(Word w) { return substitute(kSbox, w, w, w, w); }

// The decryption tables apply the inverse S-box first, so feeding them S-box outputs leaves
// InvMixColumns alone.
Word invMixColumn(Word w) {
    return kTd0[kSbox[byte0(w)]] ^ kTd1[kSbox[byte1(w)]] ^ kTd2[kSbox[byte2(w)]] ^
           kTd3[kSbox[byte3(w)]];
}

// All of `in` is read before `out` is written, so the two may be the same block.
void encryptBlock(const Word* rk, int rounds, const Byte* in, Byte* out) {
    Word s0 = load(in) ^ rk[0];
    Word s1 = load(in + 4) ^ rk[1];
    Word s2 = load(in + 8) ^ rk[2];
    Word s3 = load(in + 12) ^ rk[3];
    for (int round = 1; round < rounds; ++round) {
        rk += 4;
        const Word t0 =
            kTe0[byte0(s0)] ^ kTe1[byte1(s1)] ^ kTe2[byte2(s2)] ^ kTe3[byte3(s3)] ^ rk[0];
        const Word t1 =
            kTe0[byte0(s1)] ^ kTe1[byte1(s2)] ^ kTe2[byte2(s3)] ^ kTe3[byte3(s0)] ^ rk[1];
        const Word t2 =
            kTe0[byte0(s2)] ^ kTe1[byte1(s3)] ^ kTe2[byte2(s0)] ^ kTe3[byte3(s1)] ^ rk[2];
        const Word t3 =
            kTe0[byte0(s3)] ^ kTe1[byte1(s0)] ^ kTe2[byte2(s1)] ^ kTe3[byte3(s2)] ^ rk[3];
        s0 = t0;
        s1 = t1;
        s2 = t2;
        s3 = t3;
    }
    rk += 4;
    // The last round has no MixColumns.
    store(substitute(kSbox, s0, s1, s2, s3) ^ rk[0], out);
    store(substitute(kSbox, s1, s2, s3, s0) ^ rk[1], out + 4);
    store(substitute(kSbox, s2, s3, s0, s1) ^ rk[2], out + 8);
    store(substitute(kSbox, s3, s0, s1, s2) ^ rk[3], out + 12);
}

// The equivalent inverse cipher of FIPS-197: same shape as encryption, with the round keys
// reversed and passed through InvMixColumns by MakeKey.
void decryptBlock(const Word* rk, int rounds, const Byte* in, Byte* out) {
    Word s0 = load(in) ^ rk[0];
    Word s1 = load(in + 4) ^ rk[1];
    Word s2 = load(in + 8) ^ rk[2];
    Word s3 = load(in + 12) ^ rk[3];
    for (int round = 1; round < rounds; ++round) {
        rk += 4;
        const Word t0 =
            kTd0[byte0(s0)] ^ kTd1[byte1(s3)] ^ kTd2[byte2(s2)] ^ kTd3[byte3(s1)] ^ rk[0];
        const Word t1 =
            kTd0[byte0(s1)] ^ kTd1[byte1(s0)] ^ kTd2[byte2(s3)] ^ kTd3[byte3(s2)] ^ rk[1];
        const Word t2 =
            kTd0[byte0(s2)] ^ kTd1[byte1(s1)] ^ kTd2[byte2(s0)] ^ kTd3[byte3(s3)] ^ rk[2];
        const Word t3 =
            kTd0[byte0(s3)] ^ kTd1[byte1(s2)] ^ kTd2[byte2(s1)] ^ kTd3[byte3(s0)] ^ rk[3];
        s0 = t0;
        s1 = t1;
        s2 = t2;
        s3 = t3;
    }
    rk += 4;
    store(substitute(kInvSbox, s0, s3, s2, s1) ^ rk[0], out);
    store(substitute(kInvSbox, s1, s0, s3, s2) ^ rk[1], out + 4);
    store(substitute(kInvSbox, s2, s1, s0, s3) ^ rk[2], out + 8);
    store(substitute(kInvSbox, s3, s2, s1, s0) ^ rk[3], out + 12);
}

const Byte* bytes(const char* p) { return reinterpret_cast<const Byte*>(p); }
Byte* bytes(char* p) { return reinterpret_cast<Byte*>(p); }

#ifdef ZEV_HAVE_AESNI
// The same rounds in the processor's instructions: the encryption schedule as it is, and the
// equivalent inverse cipher's schedule, whose middle keys already went through InvMixColumns.
__attribute__((target("aes,sse2"))) void encryptBlockAesni(const Byte* rk, int rounds,
                                                           const Byte* in, Byte* out) {
    __m128i state = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in)),
                                  _mm_loadu_si128(reinterpret_cast<const __m128i*>(rk)));
    for (int round = 1; round < rounds; ++round) {
        state = _mm_aesenc_si128(
            state, _mm_loadu_si128(reinterpret_cast<const __m128i*>(rk + 16 * round)));
    }
    state = _mm_aesenclast_si128(
        state, _mm_loadu_si128(reinterpret_cast<const __m128i*>(rk + 16 * rounds)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), state);
}

__attribute__((target("aes,sse2"))) void decryptBlockAesni(const Byte* rk, int rounds,
                                                           const Byte* in, Byte* out) {
    __m128i state = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in)),
                                  _mm_loadu_si128(reinterpret_cast<const __m128i*>(rk)));
    for (int round = 1; round < rounds; ++round) {
        state = _mm_aesdec_si128(
            state, _mm_loadu_si128(reinterpret_cast<const __m128i*>(rk + 16 * round)));
    }
    state = _mm_aesdeclast_si128(
        state, _mm_loadu_si128(reinterpret_cast<const __m128i*>(rk + 16 * rounds)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), state);
}

bool detectAesni() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("aes") != 0;
}

const bool kAesniAvailable = detectAesni();
#else
const bool kAesniAvailable = false;
#endif

bool g_hardwareAllowed = true;

bool useHardware() { return kAesniAvailable && g_hardwareAllowed; }

}  // namespace

bool CRijndael::hardwareAvailable() { return kAesniAvailable; }

void CRijndael::setHardwareAllowed(bool allowed) { g_hardwareAllowed = allowed; }

const char CRijndael::sm_chain0[32] = {};

void CRijndael::MakeKey(const char* key, const char* chain, int keyLength, int blockSize) {
    if (key == nullptr || (keyLength != 16 && keyLength != 24 && keyLength != 32)) return;
    if (blockSize != kBlock) return;

    const int nk = keyLength / 4;
    const int rounds = nk + 6;
    const int words = 4 * (rounds + 1);
    Word* w = m_encryptKeys;
    for (int i = 0; i < nk; ++i) w[i] = load(bytes(key) + 4 * i);
    Byte rcon = 1;
    for (int i = nk; i < words; ++i) {
        Word temp = w[i - 1];
        if (i % nk == 0) {
            // RotWord is a left rotation by one byte, three to the right.
            temp = subWord(rotateRightBytes(temp, 3)) ^ (Word{rcon} << 24);
            rcon = xtime(rcon);
        } else if (nk > 6 && i % nk == 4) {
            temp = subWord(temp);
        }
        w[i] = w[i - nk] ^ temp;
    }

    Word* d = m_decryptKeys;
    for (int round = 0; round <= rounds; ++round) {
        for (int c = 0; c < 4; ++c) {
            const Word k = w[4 * (rounds - round) + c];
            d[4 * round + c] = round == 0 || round == rounds ? k : invMixColumn(k);
        }
    }

    for (int i = 0; i < words; ++i) {
        store(w[i], m_encryptKeyBytes + 4 * i);
        store(d[i], m_decryptKeyBytes + 4 * i);
    }

    // A null chain would be a caller's slip; a zero chain is what every caller means.
    if (chain != nullptr) {
        std::memcpy(m_chain0, chain, kBlock);
    } else {
        std::memset(m_chain0, 0, kBlock);
    }
    std::memcpy(m_chain, m_chain0, kBlock);
    m_keyLength = keyLength;
    m_blockSize = blockSize;
    m_rounds = rounds;
    m_keyed = true;
}

void CRijndael::EncryptBlock(const char* in, char* out) const {
    if (!m_keyed) return;
#ifdef ZEV_HAVE_AESNI
    if (useHardware()) return encryptBlockAesni(m_encryptKeyBytes, m_rounds, bytes(in), bytes(out));
#endif
    encryptBlock(m_encryptKeys, m_rounds, bytes(in), bytes(out));
}

void CRijndael::DecryptBlock(const char* in, char* out) const {
    if (!m_keyed) return;
#ifdef ZEV_HAVE_AESNI
    if (useHardware()) return decryptBlockAesni(m_decryptKeyBytes, m_rounds, bytes(in), bytes(out));
#endif
    decryptBlock(m_decryptKeys, m_rounds, bytes(in), bytes(out));
}

void CRijndael::Encrypt(const char* in, char* out, unsigned n, int mode) {
    if (!m_keyed || n == 0 || n % kBlock != 0) return;
    const Byte* src = bytes(in);
    Byte* dst = bytes(out);
    const Byte* const end = src + n;
    // Every mode finishes reading a block of `src` before it writes that block of `dst`, so
    // in-place use works.
    switch (mode) {
        case ECB:
            for (; src != end; src += kBlock, dst += kBlock) {
                EncryptBlock(reinterpret_cast<const char*>(src), reinterpret_cast<char*>(dst));
            }
            break;
        case CBC:
            for (; src != end; src += kBlock, dst += kBlock) {
                for (int i = 0; i < kBlock; ++i)
                    m_chain[i] = static_cast<Byte>(m_chain[i] ^ src[i]);
                EncryptBlock(reinterpret_cast<const char*>(m_chain),
                             reinterpret_cast<char*>(m_chain));
                std::memcpy(dst, m_chain, kBlock);
            }
            break;
        case CFB:
            for (; src != end; src += kBlock, dst += kBlock) {
                EncryptBlock(reinterpret_cast<const char*>(m_chain),
                             reinterpret_cast<char*>(m_chain));
                for (int i = 0; i < kBlock; ++i)
                    m_chain[i] = static_cast<Byte>(m_chain[i] ^ src[i]);
                std::memcpy(dst, m_chain, kBlock);
            }
            break;
        default:
            break;
    }
}

void CRijndael::Decrypt(const char* in, char* out, unsigned n, int mode) {
    if (!m_keyed || n == 0 || n % kBlock != 0) return;
    const Byte* src = bytes(in);
    Byte* dst = bytes(out);
    const Byte* const end = src + n;
    Byte block[kBlock];
    switch (mode) {
        case ECB:
            for (; src != end; src += kBlock, dst += kBlock) {
                DecryptBlock(reinterpret_cast<const char*>(src), reinterpret_cast<char*>(dst));
            }
            break;
        case CBC:
            for (; src != end; src += kBlock, dst += kBlock) {
                DecryptBlock(reinterpret_cast<const char*>(src), reinterpret_cast<char*>(block));
                // The ciphertext byte becomes the next chain, so take it before `dst` may
                // overwrite it.
                for (int i = 0; i < kBlock; ++i) {
                    const Byte c = src[i];
                    dst[i] = static_cast<Byte>(block[i] ^ m_chain[i]);
                    m_chain[i] = c;
                }
            }
            break;
        case CFB:
            for (; src != end; src += kBlock, dst += kBlock) {
                EncryptBlock(reinterpret_cast<const char*>(m_chain),
                             reinterpret_cast<char*>(block));
                for (int i = 0; i < kBlock; ++i) {
                    const Byte c = src[i];
                    dst[i] = static_cast<Byte>(block[i] ^ c);
                    m_chain[i] = c;
                }
            }
            break;
        default:
            break;
    }
}

void CRijndael::ResetChain() { std::memcpy(m_chain, m_chain0, kBlock); }
