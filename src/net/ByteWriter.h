// Little-endian writing of one packet into a caller's fixed buffer. A write that does not fit
// writes nothing and sets a sticky error; size() is the number of bytes written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

class ByteWriter {
public:
    ByteWriter(unsigned char* buffer, std::size_t capacity)
        : m_buffer(buffer), m_capacity(capacity) {}

    bool ok() const { return m_ok; }
    std::size_t size() const { return m_size; }
    const unsigned char* data() const { return m_buffer; }

    void u8(std::uint8_t value) { put(&value, 1); }
    void i8(std::int8_t value) { u8(static_cast<std::uint8_t>(value)); }

    void u16(std::uint16_t value) {
        unsigned char bytes[2] = {static_cast<unsigned char>(value),
                                  static_cast<unsigned char>(value >> 8)};
        put(bytes, 2);
    }
    void i16(std::int16_t value) { u16(static_cast<std::uint16_t>(value)); }

    void u32(std::uint32_t value) {
        unsigned char bytes[4] = {
            static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
            static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 24)};
        put(bytes, 4);
    }
    void i32(std::int32_t value) { u32(static_cast<std::uint32_t>(value)); }

    void f32(float value) {
        std::uint32_t bits;
        std::memcpy(&bits, &value, sizeof(bits));
        u32(bits);
    }

    void bytes(const void* data, std::size_t count) { put(data, count); }

    void zeros(std::size_t count) {
        if (!fits(count)) return;
        std::memset(m_buffer + m_size, 0, count);
        m_size += count;
    }

    // Writes `text` cut to `fieldSize` bytes and zero-padded to exactly `fieldSize`.
    void field(const char* text, std::size_t fieldSize) {
        if (!fits(fieldSize)) return;
        std::size_t length = text == nullptr ? 0 : strnlen(text, fieldSize);
        if (length > 0) std::memcpy(m_buffer + m_size, text, length);
        std::memset(m_buffer + m_size + length, 0, fieldSize - length);
        m_size += fieldSize;
    }

private:
    bool fits(std::size_t count) {
        if (!m_ok || count > m_capacity - m_size) m_ok = false;
        return m_ok;
    }

    void put(const void* data, std::size_t count) {
        if (!fits(count)) return;
        if (count > 0) std::memcpy(m_buffer + m_size, data, count);
        m_size += count;
    }

    unsigned char* m_buffer;
    std::size_t m_capacity;
    std::size_t m_size = 0;
    bool m_ok = true;
};
