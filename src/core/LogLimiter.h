// Log lines that unauthenticated or unflooded input can cause (wrong passwords, refused logins,
// logged-only chat, statistics) are limited per source and in total, so no sender can fill the
// disk or bury other lines. What is held back is counted and reported in one summary line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <unordered_map>

#include "core/TokenBucket.h"

class LogLimiter {
public:
    static constexpr std::size_t kMaxSources = 4096;

    // Whether a line caused by `source` (an IPv4 address) may be written at `nowMs`.
    bool allow(std::uint32_t source, std::int64_t nowMs);
    // The summary of what was held back since the last one, or empty when nothing was.
    std::string takeSummary();

private:
    std::unordered_map<std::uint32_t, TokenBucket> m_sources;
    std::deque<std::uint32_t> m_order;  // oldest source first
    TokenBucket m_total{50, 100};
    long m_suppressed = 0;
};
