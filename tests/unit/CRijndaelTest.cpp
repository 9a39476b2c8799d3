#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>

#include "net/CRijndael.h"

namespace {

int nibble(char c) { return c <= '9' ? c - '0' : c - 'a' + 10; }

std::string fromHex(const char* hex) {
    std::string out;
    for (std::size_t i = 0; hex[i] != '\0' && hex[i + 1] != '\0'; i += 2) {
        out.push_back(static_cast<char>(nibble(hex[i]) * 16 + nibble(hex[i + 1])));
    }
    return out;
}

std::string toHex(const std::string& data) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (const char c : data) {
        const auto b = static_cast<unsigned char>(c);
        out.push_back(digits[b >> 4]);
        out.push_back(digits[b & 15]);
    }
    return out;
}

CRijndael keyed(const std::string& key, const std::string& chain = std::string(16, '\0')) {
    CRijndael cipher;
    cipher.MakeKey(key.data(), chain.data(), static_cast<int>(key.size()), 16);
    return cipher;
}

std::string encrypt(CRijndael& cipher, const std::string& in, int mode) {
    std::string out(in.size(), '\0');
    cipher.Encrypt(in.data(), out.data(), static_cast<unsigned>(in.size()), mode);
    return out;
}

std::string decrypt(CRijndael& cipher, const std::string& in, int mode) {
    std::string out(in.size(), '\0');
    cipher.Decrypt(in.data(), out.data(), static_cast<unsigned>(in.size()), mode);
    return out;
}

// Two calls, the second continuing from the chain the first left.
std::string encryptInTwo(CRijndael& cipher, const std::string& in, std::size_t split, int mode) {
    std::string out = encrypt(cipher, in.substr(0, split), mode);
    return out + encrypt(cipher, in.substr(split), mode);
}

std::string decryptInTwo(CRijndael& cipher, const std::string& in, std::size_t split, int mode) {
    std::string out = decrypt(cipher, in.substr(0, split), mode);
    return out + decrypt(cipher, in.substr(split), mode);
}

// NIST SP 800-38A, appendix F: AES-128 key, IV and the four plaintext blocks shared by the
// ECB, CBC and CFB128 examples.
const std::string kSpKey = fromHex("2b7e151628aed2a6abf7158809cf4f3c");
const std::string kSpIv = fromHex("000102030405060708090a0b0c0d0e0f");
const std::string kSpPlain = fromHex(
    "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
    "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710");

}  // namespace

// The known answers hold for the processor's AES instructions and for the portable tables.
class CRijndaelPaths : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        if (GetParam() && !CRijndael::hardwareAvailable()) GTEST_SKIP() << "no AES instructions";
        CRijndael::setHardwareAllowed(GetParam());
    }
    void TearDown() override { CRijndael::setHardwareAllowed(true); }
};

INSTANTIATE_TEST_SUITE_P(CRijndael, CRijndaelPaths, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& param) {
                             return param.param ? std::string("Hardware") : std::string("Tables");
                         });

TEST_P(CRijndaelPaths, Fips197AppendixCKnownAnswers) {
    struct Case {
        const char* key;
        const char* cipher;
    };
    const Case cases[] = {
        {"000102030405060708090a0b0c0d0e0f", "69c4e0d86a7b0430d8cdb78070b4c55a"},
        {"000102030405060708090a0b0c0d0e0f1011121314151617", "dda97ca4864cdfe06eaf70a0ec0d7191"},
        {"000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
         "8ea2b7ca516745bfeafc49904b496089"},
    };
    const std::string plain = fromHex("00112233445566778899aabbccddeeff");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        CRijndael cipher = keyed(fromHex(c.key));
        ASSERT_TRUE(cipher.isKeyed());
        std::string block(16, '\0');
        cipher.EncryptBlock(plain.data(), block.data());
        EXPECT_EQ(toHex(block), c.cipher);
        EXPECT_EQ(toHex(encrypt(cipher, plain, CRijndael::ECB)), c.cipher);
        cipher.DecryptBlock(fromHex(c.cipher).data(), block.data());
        EXPECT_EQ(block, plain);
        EXPECT_EQ(decrypt(cipher, fromHex(c.cipher), CRijndael::ECB), plain);
    }
}

// Each mode out of place and in place, and split over two calls to show that the chain carries
// from one call to the next.
TEST_P(CRijndaelPaths, Sp80038aAes128Modes) {
    struct Case {
        int mode;
        const char* cipher;
    };
    const Case cases[] = {
        {CRijndael::ECB,
         "3ad77bb40d7a3660a89ecaf32466ef97f5d3d58503b9699de785895a96fdbaaf"
         "43b1cd7f598ece23881b00e3ed0306887b0c785e27e8ad3f8223207104725dd4"},
        {CRijndael::CBC,
         "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2"
         "73bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7"},
        {CRijndael::CFB,
         "3b3fd92eb72dad20333449f8e83cfb4ac8a64537a0b3a93fcde3cdad9f1ce58b"
         "26751f67a3cbb140b1808cf187a4f4dfc04b05357c5d1c0eeac4c66f9ff7f2e6"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        const std::string expected = fromHex(c.cipher);
        CRijndael cipher = keyed(kSpKey, kSpIv);
        EXPECT_EQ(toHex(encrypt(cipher, kSpPlain, c.mode)), c.cipher);
        cipher.ResetChain();
        EXPECT_EQ(decrypt(cipher, expected, c.mode), kSpPlain);

        cipher.ResetChain();
        std::string buffer = kSpPlain;
        cipher.Encrypt(buffer.data(), buffer.data(), 64, c.mode);
        EXPECT_EQ(toHex(buffer), c.cipher);
        cipher.ResetChain();
        cipher.Decrypt(buffer.data(), buffer.data(), 64, c.mode);
        EXPECT_EQ(buffer, kSpPlain);

        cipher.ResetChain();
        EXPECT_EQ(toHex(encryptInTwo(cipher, kSpPlain, 16, c.mode)), c.cipher);
        cipher.ResetChain();
        EXPECT_EQ(decryptInTwo(cipher, expected, 48, c.mode), kSpPlain);
    }
}

namespace {

// Every operation on a refused or unkeyed cipher must leave the output as it was.
void expectOutputUntouched(CRijndael& cipher, unsigned n, int mode) {
    const std::string in(48, '\x11');
    const std::string sentinel(48, '\xA5');
    std::string out = sentinel;
    cipher.Encrypt(in.data(), out.data(), n, mode);
    EXPECT_EQ(out, sentinel);
    cipher.Decrypt(in.data(), out.data(), n, mode);
    EXPECT_EQ(out, sentinel);
}

}  // namespace

TEST(CRijndael, RefusedKeysLeaveTheCipherUnkeyed) {
    const std::string key(32, '\x42');
    struct Case {
        const char* name;
        const char* key;
        int keyLength;
        int blockSize;
    };
    const Case cases[] = {
        {"null key", nullptr, 16, 16},         {"key length 0", key.data(), 0, 16},
        {"key length 15", key.data(), 15, 16}, {"key length 20", key.data(), 20, 16},
        {"key length 64", key.data(), 64, 16}, {"key length -16", key.data(), -16, 16},
        {"block size 24", key.data(), 16, 24}, {"block size 32", key.data(), 32, 32},
        {"block size 8", key.data(), 16, 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CRijndael cipher;
        cipher.MakeKey(c.key, CRijndael::sm_chain0, c.keyLength, c.blockSize);
        EXPECT_FALSE(cipher.isKeyed());
        for (int mode : {CRijndael::ECB, CRijndael::CBC, CRijndael::CFB}) {
            expectOutputUntouched(cipher, 32, mode);
        }
        std::string out(16, '\xA5');
        cipher.EncryptBlock(key.data(), out.data());
        cipher.DecryptBlock(key.data(), out.data());
        EXPECT_EQ(out, std::string(16, '\xA5'));
    }
}

TEST(CRijndael, RefusedMakeKeyKeepsTheEarlierKey) {
    CRijndael cipher = keyed(kSpKey);
    const std::string other(32, '\x42');
    cipher.MakeKey(other.data(), CRijndael::sm_chain0, 20, 16);
    cipher.MakeKey(other.data(), CRijndael::sm_chain0, 16, 32);
    cipher.MakeKey(nullptr, CRijndael::sm_chain0, 16, 16);
    EXPECT_EQ(toHex(encrypt(cipher, kSpPlain.substr(0, 16), CRijndael::ECB)),
              "3ad77bb40d7a3660a89ecaf32466ef97");
}

// A refused call must neither write nor move the chain: the next valid call still produces the
// vector's first block.
TEST(CRijndael, PartialBlocksAndUnknownModesAreRefused) {
    struct Case {
        unsigned n;
        int mode;
    };
    const Case cases[] = {{0, CRijndael::CBC},
                          {1, CRijndael::CBC},
                          {15, CRijndael::CBC},
                          {17, CRijndael::CFB},
                          {40, CRijndael::ECB},
                          {32, 3},
                          {32, -1}};
    CRijndael cipher = keyed(kSpKey, kSpIv);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "n " << c.n << " mode " << c.mode);
        expectOutputUntouched(cipher, c.n, c.mode);
    }
    EXPECT_EQ(toHex(encrypt(cipher, kSpPlain.substr(0, 16), CRijndael::CBC)),
              "7649abac8119b246cee98e9b12e9197d");
}

TEST(CRijndael, CopiesCarryTheKeyAndTheCurrentChain) {
    CRijndael original = keyed(kSpKey, kSpIv);
    encrypt(original, kSpPlain.substr(0, 16), CRijndael::CBC);
    CRijndael copied(original);
    CRijndael assigned;
    assigned = original;
    const std::string second = kSpPlain.substr(16, 16);
    EXPECT_EQ(toHex(encrypt(copied, second, CRijndael::CBC)), "5086cb9b507219ee95db113a917678b2");
    EXPECT_EQ(toHex(encrypt(assigned, second, CRijndael::CBC)), "5086cb9b507219ee95db113a917678b2");
    EXPECT_EQ(toHex(encrypt(original, second, CRijndael::CBC)), "5086cb9b507219ee95db113a917678b2");
    // The copy's initial chain is the original's IV, not the zero block.
    copied.ResetChain();
    EXPECT_EQ(toHex(encrypt(copied, kSpPlain.substr(0, 16), CRijndael::CBC)),
              "7649abac8119b246cee98e9b12e9197d");
}

namespace {

const EVP_CIPHER* openSslCipher(std::size_t keyLength, int mode) {
    switch (keyLength * 10 + static_cast<std::size_t>(mode)) {
        case 160:
            return EVP_aes_128_ecb();
        case 161:
            return EVP_aes_128_cbc();
        case 162:
            return EVP_aes_128_cfb128();
        case 240:
            return EVP_aes_192_ecb();
        case 241:
            return EVP_aes_192_cbc();
        case 242:
            return EVP_aes_192_cfb128();
        case 320:
            return EVP_aes_256_ecb();
        case 321:
            return EVP_aes_256_cbc();
        default:
            return EVP_aes_256_cfb128();
    }
}

std::string openSslEncrypt(const std::string& key, const std::string& iv, int mode,
                           const std::string& plain) {
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> context(EVP_CIPHER_CTX_new(),
                                                                            EVP_CIPHER_CTX_free);
    std::string out(plain.size() + 16, '\0');
    auto* outBytes = reinterpret_cast<unsigned char*>(out.data());
    int written = 0;
    int finished = 0;
    const bool ok = EVP_EncryptInit_ex(context.get(), openSslCipher(key.size(), mode), nullptr,
                                       reinterpret_cast<const unsigned char*>(key.data()),
                                       reinterpret_cast<const unsigned char*>(iv.data())) == 1 &&
                    EVP_CIPHER_CTX_set_padding(context.get(), 0) == 1 &&
                    EVP_EncryptUpdate(context.get(), outBytes, &written,
                                      reinterpret_cast<const unsigned char*>(plain.data()),
                                      static_cast<int>(plain.size())) == 1 &&
                    EVP_EncryptFinal_ex(context.get(), outBytes + written, &finished) == 1;
    EXPECT_TRUE(ok);
    out.resize(static_cast<std::size_t>(written + finished));
    return out;
}

std::string randomBytes(std::mt19937& random, std::size_t n) {
    std::string out(n, '\0');
    for (char& c : out) c = static_cast<char>(random() & 0xFF);
    return out;
}

}  // namespace

// Every key size and mode against OpenSSL, with the data split at a random block boundary into
// two calls so that the chain handed from call to call is checked too.
TEST_P(CRijndaelPaths, MatchesOpenSslOnRandomInputs) {
    std::mt19937 random(20240611);
    const std::size_t keyLengths[] = {16, 24, 32};
    for (int i = 0; i < 300; ++i) {
        const std::size_t keyLength = keyLengths[i % 3];
        const int mode = (i / 3) % 3;
        const std::string key = randomBytes(random, keyLength);
        const std::string iv = randomBytes(random, 16);
        const std::size_t blocks = 1 + random() % 16;
        const std::string plain = randomBytes(random, 16 * blocks);
        const std::size_t split = 16 * (random() % (blocks + 1));
        SCOPED_TRACE(testing::Message() << "case " << i << " key " << toHex(key) << " mode " << mode
                                        << " blocks " << blocks << " split " << split);

        const std::string expected = openSslEncrypt(key, iv, mode, plain);
        CRijndael cipher = keyed(key, iv);
        // A zero-length half is refused and adds nothing, which is also what OpenSSL expects.
        ASSERT_EQ(toHex(encryptInTwo(cipher, plain, split, mode)), toHex(expected));
        cipher.ResetChain();
        ASSERT_EQ(toHex(decryptInTwo(cipher, expected, split, mode)), toHex(plain));
    }
}
