#include <gtest/gtest.h>

#include "core/Schedule.h"

TEST(Schedule, FirstRunsOfEachGroup) {
    Schedule schedule;
    schedule.start(1000);
    EXPECT_EQ(schedule.takeDue(1000), 0u);
    EXPECT_EQ(schedule.nextDue(), 1001);
    int firstCheck = -1, firstTime = -1, firstWeather = -1;
    for (int second = 1; second <= 150; ++second) {
        unsigned due = schedule.takeDue(1000 + second);
        ASSERT_NE(due & Schedule::kHousekeeping, 0u) << second;
        ASSERT_NE(due & Schedule::kSendPeriod, 0u) << second;
        ASSERT_NE(due & Schedule::kClock, 0u) << second;
        if ((due & Schedule::kClientCheck) && firstCheck < 0) firstCheck = second;
        if ((due & Schedule::kTime) && firstTime < 0) firstTime = second;
        if ((due & Schedule::kWeather) && firstWeather < 0) firstWeather = second;
    }
    EXPECT_EQ(firstCheck, 30);
    EXPECT_EQ(firstTime, 60);
    EXPECT_EQ(firstWeather, 150);
}

TEST(Schedule, MissedPeriodsAreNotCaughtUp) {
    Schedule schedule;
    schedule.start(0);
    // Five seconds late: every group runs once, and the 30-second period restarts from here.
    unsigned due = schedule.takeDue(35);
    EXPECT_NE(due & Schedule::kClientCheck, 0u);
    EXPECT_EQ(schedule.takeDue(35), 0u);
    EXPECT_EQ(schedule.takeDue(64) & Schedule::kClientCheck, 0u);
    EXPECT_NE(schedule.takeDue(65) & Schedule::kClientCheck, 0u);
}
