#include "FuzzSupport.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "core/Clock.h"
#include "core/Log.h"
#include "core/Random.h"

namespace fuzz {

namespace {

// A fixed moment: a Saturday noon in UTC, far from any wrap of the 16-bit ping stamps.
constexpr std::time_t kWallSeconds = 1700000000;
constexpr std::int64_t kMonotonicMillis = 1000000;

std::uint64_t g_drawState = 0;

// Key bytes from a fixed sequence (splitmix64), so that joins draw the same keys every replay.
bool fixedDraws(void* out, std::size_t n) {
    auto* bytes = static_cast<unsigned char*>(out);
    for (std::size_t i = 0; i < n; ++i) {
        std::uint64_t z = (g_drawState += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        bytes[i] = static_cast<unsigned char>(z ^ (z >> 31));
    }
    return true;
}

std::string g_scratch;

void removeScratch() {
    if (g_scratch.empty()) return;
    DIR* folder = opendir(g_scratch.c_str());
    if (folder != nullptr) {
        while (dirent* entry = readdir(folder)) {
            if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) {
                continue;
            }
            unlink((g_scratch + "/" + entry->d_name).c_str());
        }
        closedir(folder);
    }
    rmdir(g_scratch.c_str());
}

// Feeds every byte into a sink the optimiser must keep.
volatile unsigned g_sink = 0;

}  // namespace

void fail(const char* file, int line, const char* what) {
    std::fprintf(stderr, "FUZZ CHECK FAILED at %s:%d: %s\n", file, line, what);
    std::abort();
}

bool tracing() {
    static const bool on = std::getenv("ZEV_FUZZ_TRACE") != nullptr;
    return on;
}

void quietProcess() {
    Log* log = Log::getInstance();
    log->setConsole(tracing() ? &std::cerr : nullptr);
    log->setQuietMode(!tracing());
    Random::setSourceForTesting(fixedDraws);
    resetTime();
}

void resetTime() {
    Clock::pin(kWallSeconds, kMonotonicMillis);
    g_drawState = 0;
}

const std::string& scratchFolder() {
    if (!g_scratch.empty()) return g_scratch;
    const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : std::getenv("TMPDIR");
    if (base == nullptr || *base == '\0') base = "/tmp";
    std::string pattern = std::string(base) + "/zevfuzz-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (mkdtemp(name.data()) == nullptr) fail(__FILE__, __LINE__, "mkdtemp");
    char resolved[4096];
    g_scratch = realpath(name.data(), resolved) != nullptr ? resolved : name.data();
    std::atexit(removeScratch);
    return g_scratch;
}

std::string scratchPath(const char* name) { return scratchFolder() + "/" + name; }

void enterScratchFolder() {
    if (chdir(scratchFolder().c_str()) != 0) fail(__FILE__, __LINE__, "chdir");
}

bool writeFile(const std::string& path, const void* data, std::size_t size) {
    int descriptor = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (descriptor < 0) return false;
    const auto* bytes = static_cast<const char*>(data);
    std::size_t done = 0;
    while (done < size) {
        ssize_t count = write(descriptor, bytes + done, size - done);
        if (count <= 0) break;
        done += static_cast<std::size_t>(count);
    }
    close(descriptor);
    return done == size;
}

sockaddr_in address(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d,
                    std::uint16_t port) {
    sockaddr_in out{};
    out.sin_family = AF_INET;
    out.sin_port = htons(port);
    out.sin_addr.s_addr =
        htonl(static_cast<std::uint32_t>(a) << 24 | static_cast<std::uint32_t>(b) << 16 |
              static_cast<std::uint32_t>(c) << 8 | d);
    return out;
}

int CountingEndpoint::transmit(const sockaddr_in* destination, const unsigned char* data,
                               int length) {
    FUZZ_CHECK(destination != nullptr && destination->sin_family == AF_INET);
    FUZZ_CHECK(length > 0 && length <= 65507);
    if (m_sealed) FUZZ_CHECK(length % 16 == 0);
    unsigned sum = 0;
    for (int i = 0; i < length; ++i) sum += data[i];
    if (tracing()) {
        std::fprintf(stderr, "  sent %d bytes to %s:%d%s\n", length,
                     ServerInterface::getAsciiAddress(destination), ntohs(destination->sin_port),
                     m_sealed ? "" : " (plain)");
    }
    g_sink = g_sink + sum;
    ++datagrams;
    bytes += length;
    return length;
}

void CountingEndpoint::transmitBatch(const OutgoingDatagram* outgoing, int count, int* sent) {
    for (int i = 0; i < count; ++i) {
        sent[i] = transmit(&outgoing[i].to, outgoing[i].data, outgoing[i].length);
    }
}

HeapBytes::HeapBytes(const std::uint8_t* data, std::size_t size)
    : m_data(new unsigned char[size]), m_size(size) {
    if (size > 0) std::memcpy(m_data.get(), data, size);
}

std::uint8_t FuzzInput::u8() { return empty() ? 0 : m_data[m_position++]; }

std::uint16_t FuzzInput::u16() {
    std::uint16_t low = u8();
    return static_cast<std::uint16_t>(low | (u8() << 8));
}

std::uint32_t FuzzInput::u32() {
    std::uint32_t low = u16();
    return low | static_cast<std::uint32_t>(u16()) << 16;
}

std::vector<std::uint8_t> FuzzInput::bytes(std::size_t count) {
    std::size_t take = count < remaining() ? count : remaining();
    std::vector<std::uint8_t> out(m_data + m_position, m_data + m_position + take);
    m_position += take;
    return out;
}

std::string FuzzInput::text(std::size_t count) {
    std::vector<std::uint8_t> raw = bytes(count);
    return std::string(raw.begin(), raw.end());
}

std::vector<std::uint8_t> FuzzInput::record(std::size_t max) {
    std::size_t length = u16();
    return bytes(length < max ? length : max);
}

std::vector<std::uint8_t> FuzzInput::rest() { return bytes(remaining()); }

}  // namespace fuzz
