#include "core/Schedule.h"

void Schedule::start(std::int64_t now) {
    for (std::int64_t& timer : m_timers) timer = now;
}

unsigned Schedule::takeDue(std::int64_t now) {
    unsigned due = 0;
    for (int i = 0; i < kTaskCount; ++i) {
        if (now - m_timers[i] > kThresholds[i]) {
            due |= 1u << i;
            m_timers[i] = now;
        }
    }
    return due;
}

std::int64_t Schedule::nextDue() const {
    std::int64_t next = m_timers[0] + kThresholds[0] + 1;
    for (int i = 1; i < kTaskCount; ++i) {
        std::int64_t at = m_timers[i] + kThresholds[i] + 1;
        if (at < next) next = at;
    }
    return next;
}
