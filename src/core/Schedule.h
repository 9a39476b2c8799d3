// The main loop's periodic timers. Each task runs when the whole seconds elapsed since it last
// ran exceed its threshold; periods count from the last run and missed ones are not caught up.
#pragma once

#include <cstdint>

class Schedule {
public:
    enum Task : unsigned {
        kHousekeeping = 1u << 0,  // floods, timeouts, ping: every second
        kSendPeriod = 1u << 1,    // new send-limit period: every second
        kClientCheck = 1u << 2,   // every 30 seconds
        kTime = 1u << 3,          // every 60 seconds
        kWeather = 1u << 4,       // every 150 seconds
        kClock = 1u << 5,         // game clock tick: every second
        kMetrics = 1u << 6,       // metrics file: every 10 seconds
    };

    // Sets every timer to `now` (whole seconds).
    void start(std::int64_t now);
    // The tasks due at `now`, in their order of bits; their timers are set to `now`.
    unsigned takeDue(std::int64_t now);
    // The earliest second at which some task becomes due.
    std::int64_t nextDue() const;

private:
    static constexpr int kTaskCount = 7;
    static constexpr std::int64_t kThresholds[kTaskCount] = {0, 0, 29, 59, 149, 0, 9};
    std::int64_t m_timers[kTaskCount] = {};
};
