// Unpredictable bytes from the operating system, for secrets such as the per-player keys. A seeded
// pseudo-random generator would let anyone who knows the join time compute a player's key, so key
// material comes from here and never from rand().
#pragma once

#include <cstddef>

namespace Random {

// A source fills `n` bytes at `out` and returns true, or returns false when it cannot.
using Source = bool (*)(void* out, std::size_t n);

// Fills `n` bytes at `out` from the current source: by default getrandom(2), retried on EINTR and
// short reads, then /dev/urandom when getrandom is unavailable. False when no bytes of sufficient
// quality could be had; `out` then holds no usable secret.
bool fillBytes(void* out, std::size_t n);

// Replaces the source so tests can make draws deterministic; null restores the operating system.
void setSourceForTesting(Source source);

}  // namespace Random
