#include "core/Clock.h"

#include <sys/time.h>

namespace {

bool g_pinned = false;
std::int64_t g_wallMs = 0;
std::int64_t g_monoMs = 0;

}  // namespace

namespace Clock {

std::time_t wallSeconds() {
    if (g_pinned) return static_cast<std::time_t>(g_wallMs / 1000);
    return std::time(nullptr);
}

std::tm localTime() {
    std::time_t now = wallSeconds();
    std::tm out{};
    if (g_pinned) {
        gmtime_r(&now, &out);
    } else {
        localtime_r(&now, &out);
    }
    return out;
}

std::int64_t monotonicMillis() {
    if (g_pinned) return g_monoMs;
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

std::int64_t monotonicSeconds() {
    if (g_pinned) return g_monoMs / 1000;
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec);
}

std::int64_t wallMillis() {
    if (g_pinned) return g_wallMs;
    timeval tv{};
    gettimeofday(&tv, nullptr);
    return static_cast<std::int64_t>(tv.tv_sec) * 1000 + tv.tv_usec / 1000;
}

std::uint16_t pingStamp() { return static_cast<std::uint16_t>(wallMillis() & 0xFFFF); }

void pin(std::time_t wall, std::int64_t monotonicMs) {
    g_pinned = true;
    g_wallMs = static_cast<std::int64_t>(wall) * 1000;
    g_monoMs = monotonicMs;
}

void advanceMillis(std::int64_t ms) {
    g_wallMs += ms;
    g_monoMs += ms;
}

void unpin() { g_pinned = false; }

bool isPinned() { return g_pinned; }

}  // namespace Clock
