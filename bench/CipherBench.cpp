// The envelope every game datagram travels in, and the AES-128 block operations under it.

#include <benchmark/benchmark.h>

#include <array>
#include <cstring>
#include <string>

#include "net/CRijndael.h"
#include "net/Envelope.h"

namespace {

// The envelope sizes of a typical relay packet and of a slightly longer one.
constexpr int kInner48 = 30;
constexpr int kInner64 = 46;
static_assert(envelopeSize(kInner48) == 48);
static_assert(envelopeSize(kInner64) == 64);

constexpr int kBlock = 16;
constexpr int kBufferSize = 1024 + kEnvelopeOverhead;

CRijndael keyedCipher() {
    char key[16];
    for (int i = 0; i < 16; ++i) key[i] = static_cast<char>(2 * i + 3);
    CRijndael cipher;
    cipher.MakeKey(key, CRijndael::sm_chain0, 16, 16);
    return cipher;
}

std::array<unsigned char, kBufferSize> innerDatagram(int length) {
    std::array<unsigned char, kBufferSize> data{};
    data[0] = 10;
    for (int i = 1; i < length; ++i)
        data[static_cast<std::size_t>(i)] = static_cast<unsigned char>(i * 7);
    return data;
}

void BM_SealEnvelope(benchmark::State& state) {
    const int length = static_cast<int>(state.range(0));
    const CRijndael cipher = keyedCipher();
    const auto data = innerDatagram(length);
    std::array<unsigned char, kBufferSize> out{};
    int size = 0;
    for (auto _ : state) {
        size = sealEnvelope(cipher, data.data(), length, out.data(), kBufferSize);
        benchmark::DoNotOptimize(size);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    if (size != envelopeSize(length)) state.SkipWithError("sealEnvelope gave the wrong size");
    state.SetBytesProcessed(state.iterations() * size);
    state.SetLabel(std::to_string(size) + "-byte envelope");
}
BENCHMARK(BM_SealEnvelope)->Arg(kInner48)->Arg(kInner64);

// Opening decrypts in place, so each turn restores the sealed bytes first (a copy of at most 64
// bytes, small beside the blocks it decrypts).
void BM_OpenEnvelope(benchmark::State& state) {
    const int length = static_cast<int>(state.range(0));
    const CRijndael cipher = keyedCipher();
    const auto data = innerDatagram(length);
    std::array<unsigned char, kBufferSize> sealed{};
    const int size = sealEnvelope(cipher, data.data(), length, sealed.data(), kBufferSize);
    std::array<unsigned char, kBufferSize> work{};
    int opened = 0;
    for (auto _ : state) {
        std::memcpy(work.data(), sealed.data(), static_cast<std::size_t>(size));
        opened = openEnvelope(cipher, work.data(), size);
        benchmark::DoNotOptimize(opened);
        benchmark::DoNotOptimize(work.data());
        benchmark::ClobberMemory();
    }
    if (opened != length ||
        std::memcmp(work.data(), data.data(), static_cast<std::size_t>(length)) != 0) {
        state.SkipWithError("openEnvelope did not give back the datagram");
    }
    state.SetBytesProcessed(state.iterations() * size);
    state.SetLabel(std::to_string(size) + "-byte envelope");
}
BENCHMARK(BM_OpenEnvelope)->Arg(kInner48)->Arg(kInner64);

// Each block's output is the next block's input, so no turn can be skipped or overlapped: this
// is the latency of one block.
void BM_EncryptBlock(benchmark::State& state) {
    const CRijndael cipher = keyedCipher();
    std::array<char, kBlock> block{};
    for (auto _ : state) {
        cipher.EncryptBlock(block.data(), block.data());
        benchmark::DoNotOptimize(block.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * kBlock);
}
BENCHMARK(BM_EncryptBlock);

void BM_DecryptBlock(benchmark::State& state) {
    const CRijndael cipher = keyedCipher();
    std::array<char, kBlock> block{};
    for (auto _ : state) {
        cipher.DecryptBlock(block.data(), block.data());
        benchmark::DoNotOptimize(block.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * kBlock);
}
BENCHMARK(BM_DecryptBlock);

}  // namespace
