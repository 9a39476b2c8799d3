// A rate limit: `rate` events a second on average, with bursts of up to `burst`. Time is in
// milliseconds of a monotonic clock, passed in so that callers and tests choose the clock.
#pragma once

#include <cstdint>

class TokenBucket {
public:
    TokenBucket(std::int64_t ratePerSecond, std::int64_t burst)
        : m_rate(ratePerSecond), m_capacity(burst * 1000), m_tokens(burst * 1000) {}

    // Takes one event's worth if there is one.
    bool take(std::int64_t nowMs) {
        if (m_started) {
            std::int64_t elapsed = nowMs - m_last;
            if (elapsed > 0) {
                // Milli-events: rate per second equals milli-events per millisecond.
                m_tokens = m_tokens + elapsed * m_rate;
                if (m_tokens > m_capacity) m_tokens = m_capacity;
            }
        }
        m_started = true;
        m_last = nowMs;
        if (m_tokens < 1000) return false;
        m_tokens -= 1000;
        return true;
    }

private:
    std::int64_t m_rate;
    std::int64_t m_capacity;
    std::int64_t m_tokens;
    std::int64_t m_last = 0;
    bool m_started = false;
};
