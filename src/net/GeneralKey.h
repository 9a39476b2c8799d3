// The general key: the AES key every client knows in advance, under which newcomers' datagrams
// and the join handshake travel. The server keeps it as a scrambled record; the GeneralKey
// setting (32 hexadecimal digits) overrides it so an operator can match a client build.
#pragma once

#include <cstddef>

constexpr std::size_t kGeneralKeySize = 16;

enum class GeneralKeyStatus {
    kOk,
    kBadSetting,     // GeneralKey is present but not exactly 32 hexadecimal digits
    kDamagedRecord,  // the stored record fails its checksum
};

// Fills `key` from the GeneralKey setting, or else from the stored record.
GeneralKeyStatus loadGeneralKey(unsigned char key[kGeneralKeySize]);

// The record's layout: byte 0 the character count N (signed), bytes 1 to 3 unused, bytes 4 to
// N + 3 the scrambled characters, a 16-bit little-endian checksum, then the offset byte.
// Writes the characters to `out` (255 bytes, zeroed first) and returns it, or null when the
// checksum does not match. `recordSize` bounds every read of the record.
const char* deobfuscateString(const unsigned char* record, std::size_t recordSize, char* out);

// The inverse, for making records: scrambles `text` with `offset` into `record` and returns the
// record's size, or 0 when it does not fit `capacity`.
std::size_t obfuscateString(const char* text, unsigned char offset, unsigned char* record,
                            std::size_t capacity);
