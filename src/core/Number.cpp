#include "core/Number.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>

int parseIntClamped(const char* text) {
    if (text == nullptr) return 0;
    while (std::isspace(static_cast<unsigned char>(*text)) != 0) ++text;
    bool negative = false;
    if (*text == '+' || *text == '-') {
        negative = *text == '-';
        ++text;
    }
    // Accumulate as a negative number so that INT_MIN is reachable without overflow.
    long long value = 0;
    while (std::isdigit(static_cast<unsigned char>(*text)) != 0) {
        value = value * 10 - (*text - '0');
        if (value < INT_MIN) return negative ? INT_MIN : INT_MAX;
        ++text;
    }
    if (!negative) {
        if (value == INT_MIN) return INT_MAX;
        value = -value;
    }
    return static_cast<int>(value);
}

bool parseIntInRange(const char* text, long low, long high, int* out) {
    if (text == nullptr || std::isspace(static_cast<unsigned char>(*text)) != 0) return false;
    char* end = nullptr;
    errno = 0;
    long value = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || value < low || value > high) return false;
    *out = static_cast<int>(value);
    return true;
}
