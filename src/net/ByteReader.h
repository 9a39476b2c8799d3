// Bounded little-endian reading of one datagram. A read past the end returns 0 (or nothing) and
// sets a sticky error, so a handler reads every field, checks ok() once, and drops the datagram
// quietly when it was short.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

class ByteReader {
public:
    ByteReader(const unsigned char* data, std::size_t size) : m_data(data), m_size(size) {}

    bool ok() const { return m_ok; }
    std::size_t position() const { return m_position; }
    std::size_t remaining() const { return m_size - m_position; }
    const unsigned char* current() const { return m_data + m_position; }

    std::uint8_t u8() {
        unsigned char byte = 0;
        take(&byte, 1);
        return byte;
    }
    std::int8_t i8() { return static_cast<std::int8_t>(u8()); }

    std::uint16_t u16() {
        unsigned char bytes[2] = {};
        take(bytes, 2);
        return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
    }
    std::int16_t i16() { return static_cast<std::int16_t>(u16()); }

    std::uint32_t u32() {
        unsigned char bytes[4] = {};
        take(bytes, 4);
        return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
               static_cast<std::uint32_t>(bytes[2]) << 16 |
               static_cast<std::uint32_t>(bytes[3]) << 24;
    }
    std::int32_t i32() { return static_cast<std::int32_t>(u32()); }

    float f32() {
        std::uint32_t bits = u32();
        float value;
        std::memcpy(&value, &bits, sizeof(value));
        return value;
    }

    // Copies `count` bytes to `out`; on a short datagram `out` is zero-filled instead.
    void bytes(unsigned char* out, std::size_t count) {
        if (!take(out, count)) std::memset(out, 0, count);
    }

    void skip(std::size_t count) { take(nullptr, count); }

private:
    bool take(unsigned char* out, std::size_t count) {
        if (!m_ok || count > m_size - m_position) {
            m_ok = false;
            return false;
        }
        if (out != nullptr && count > 0) std::memcpy(out, m_data + m_position, count);
        m_position += count;
        return true;
    }

    const unsigned char* m_data;
    std::size_t m_size;
    std::size_t m_position = 0;
    bool m_ok = true;
};
