// Pieces shared by the fuzzers: a quiet process with a pinned clock and deterministic key draws,
// a scratch folder on a memory file system, endpoints that only count what they would send, exact
// size heap copies (so a read one byte past a datagram is a sanitizer report), and a reader that
// cuts a fuzzer's input into fields and datagrams.
#pragma once

#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "net/ServerInterface.h"

// Stops the run with a message when `condition` is false; libFuzzer keeps the input as a crash.
#define FUZZ_CHECK(condition) \
    ((condition) ? static_cast<void>(0) : fuzz::fail(__FILE__, __LINE__, #condition))

namespace fuzz {

[[noreturn]] void fail(const char* file, int line, const char* what);

// Once per process: no console output, the clock pinned, key draws from a fixed sequence. With
// ZEV_FUZZ_TRACE set in the environment the log and every send go to standard error instead, to
// follow what a reproducer does.
void quietProcess();
bool tracing();
// Once per input: the clock back to its fixed moment and the key draws restarted, so that an
// input replays exactly.
void resetTime();

// A folder for the files the code under test reads and writes, created on first use: on /dev/shm
// when it exists, where the ban list's fsync costs nothing, else in TMPDIR or /tmp. Removed with
// its files at exit. The path is absolute.
const std::string& scratchFolder();
std::string scratchPath(const char* name);
// Makes the scratch folder the working directory (for "motd.txt"). Paths given to a fuzzer that
// does this must be absolute.
void enterScratchFolder();
// Replaces the file with `size` bytes, without syncing. False when it cannot be written.
bool writeFile(const std::string& path, const void* data, std::size_t size);

// An IPv4 address from its four octets.
sockaddr_in address(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d,
                    std::uint16_t port);

// An endpoint that sends nothing: it reads every byte handed to it (so a send from outside the
// caller's buffer is a sanitizer report), checks the length, and counts.
class CountingEndpoint : public ServerInterface {
public:
    // `sealed`: every datagram must be an envelope (a positive multiple of 16 bytes).
    explicit CountingEndpoint(bool sealed) : m_sealed(sealed) {}

    long datagrams = 0;
    long bytes = 0;

protected:
    int transmit(const sockaddr_in* destination, const unsigned char* data, int length) override;
    void transmitBatch(const OutgoingDatagram* datagrams, int count, int* sent) override;

private:
    bool m_sealed;
};

// Exactly `size` bytes on the heap, even for 0, so the sanitizer sees the end.
class HeapBytes {
public:
    HeapBytes(const std::uint8_t* data, std::size_t size);
    explicit HeapBytes(const std::vector<std::uint8_t>& data)
        : HeapBytes(data.data(), data.size()) {}

    unsigned char* data() { return m_data.get(); }
    std::size_t size() const { return m_size; }

private:
    std::unique_ptr<unsigned char[]> m_data;
    std::size_t m_size;
};

// Reads a fuzzer's input front to back. Reads past the end give zeros and empty fields.
class FuzzInput {
public:
    FuzzInput(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}

    bool empty() const { return m_position >= m_size; }
    std::size_t remaining() const { return empty() ? 0 : m_size - m_position; }

    std::uint8_t u8();
    std::uint16_t u16();  // little-endian
    std::uint32_t u32();  // little-endian
    // The next `count` bytes, fewer at the end.
    std::vector<std::uint8_t> bytes(std::size_t count);
    std::string text(std::size_t count);
    // A 16-bit little-endian length, then that many bytes, at most `max`.
    std::vector<std::uint8_t> record(std::size_t max);
    // Everything left.
    std::vector<std::uint8_t> rest();

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_position = 0;
};

}  // namespace fuzz
