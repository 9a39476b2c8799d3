// The byte formats of the listing protocol, as pure functions: reply fields, fragments of long
// replies, the verification hash, and the heartbeat schedule.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Appends a string field (a length byte counting itself, then at most 254 bytes of text, no
// NUL) at `*position`, never past `limit`. A null or empty text is the single byte 0x01.
// Returns false, writing nothing, when the field does not fit.
bool aseAppendString(unsigned char* buffer, std::size_t* position, std::size_t limit,
                     const char* text);
// A number field: the string field of its decimal text.
bool aseAppendNumber(unsigned char* buffer, std::size_t* position, std::size_t limit, long value);

constexpr std::size_t kAseMaxUnfragmented = 1363;
constexpr std::size_t kAseFragmentPayload = 1356;

// Splits a reply longer than kAseMaxUnfragmented into fragments "EYE1", "EYE2", ... each with
// at most 1356 reply bytes and the 4-byte fragment id; an extra fragment (header, 0x00, id)
// follows when the last one was exactly full. A short reply is returned whole.
std::vector<std::vector<std::uint8_t>> aseFragments(const unsigned char* reply, std::size_t length,
                                                    std::uint32_t fragmentId);

// The verification table: 256 rows of two words, shuffled by a generator that starts from
// `*seed` and leaves its final state there.
struct AseVerificationTable {
    std::uint32_t rows[256][2];
};
void aseBuildVerificationTable(AseVerificationTable& table, std::uint32_t* seed);
// The answer to the 8 challenge bytes.
std::uint32_t aseVerify(const AseVerificationTable& table, const unsigned char challenge[8]);

// When master heartbeats go out: 15 s after the first, then doubling to a ceiling of 1920 s.
// With the primary on its fallback address the fourth waits a day. Times are milliseconds in
// 32-bit arithmetic that wraps.
class AseHeartbeatSchedule {
public:
    // True when a heartbeat is due at `now`; it is then counted as sent.
    bool take(std::uint32_t now, bool fallback);
    std::uint32_t nextTime() const { return m_next; }
    std::uint32_t interval() const { return m_interval; }

private:
    bool m_started = false;
    std::uint32_t m_next = 0;
    std::uint32_t m_interval = 15000;
};

// "\hb\<queryPort>\<gameName>".
std::string aseHeartbeatText(int queryPort, const char* gameName);
