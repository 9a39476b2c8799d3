// The one source of time for the server. The main loop's schedule runs on the monotonic clock so
// that a step of the wall clock neither stalls nor races the periodic tasks; the log prefix and
// the random seed use wall time. Tests pin both clocks and move them by hand.
#pragma once

#include <cstdint>
#include <ctime>

namespace Clock {

// Whole seconds of wall time (time()).
std::time_t wallSeconds();

// Local broken-down time of wallSeconds(), for the log prefix.
std::tm localTime();

// Milliseconds of a monotonic clock with an arbitrary origin.
std::int64_t monotonicMillis();

// Whole seconds of the same monotonic clock.
std::int64_t monotonicSeconds();

// Wall-clock milliseconds (seconds * 1000 + milliseconds), the base of ping stamps.
std::int64_t wallMillis();

// A ping stamp: wall-clock milliseconds modulo 65536. Differences of stamps, taken modulo
// 65536, are exact for intervals below 65.536 seconds.
std::uint16_t pingStamp();

// Pins both clocks: from now on they only move through advanceMillis(). The pinned local time
// is computed in UTC so that tests do not depend on the machine's time zone.
void pin(std::time_t wall, std::int64_t monotonicMs);
void advanceMillis(std::int64_t ms);
void unpin();
bool isPinned();

}  // namespace Clock
