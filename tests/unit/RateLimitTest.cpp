#include <gtest/gtest.h>

#include "UnitSupport.h"
#include "admin/Ban.h"
#include "core/LogLimiter.h"
#include "core/TokenBucket.h"
#include "listing/ASEReplyLimiter.h"

TEST(TokenBucket, BurstThenRate) {
    TokenBucket bucket(2, 3);
    int allowed = 0;
    for (int i = 0; i < 10; ++i) allowed += bucket.take(1000) ? 1 : 0;
    EXPECT_EQ(allowed, 3);
    EXPECT_FALSE(bucket.take(1400));
    EXPECT_TRUE(bucket.take(1500)) << "two a second: one more after half a second";
    EXPECT_FALSE(bucket.take(1500));
    EXPECT_TRUE(bucket.take(100000));
    allowed = 0;
    for (int i = 0; i < 10; ++i) allowed += bucket.take(100000) ? 1 : 0;
    EXPECT_EQ(allowed, 2) << "refill stops at the burst";
}

TEST(AseReplyLimiter, EachSourceGetsABurstThenOneASecond) {
    AseReplyLimiter limiter;
    int allowed = 0;
    for (int i = 0; i < 20; ++i) allowed += limiter.allow(0x7F000001, 0) ? 1 : 0;
    EXPECT_EQ(allowed, 10);
    EXPECT_FALSE(limiter.allow(0x7F000001, 500));
    EXPECT_TRUE(limiter.allow(0x7F000001, 1000));
    EXPECT_TRUE(limiter.allow(0x7F000002, 1000)) << "another source has its own burst";
}

TEST(AseReplyLimiter, ForgedFloodNeitherAmplifiesNorStarvesAReturningBrowser) {
    AseReplyLimiter limiter;
    const std::uint32_t browser = 0x7F000001;
    std::uint32_t forged = 0x0A000000;
    int floodAnswered = 0;
    int browserAnswered = 0;
    // 5,000 queries a second from ever-new sources, for 10 seconds, and a browser once a second.
    for (std::int64_t ms = 0; ms < 10000; ++ms) {
        for (int i = 0; i < 5; ++i) floodAnswered += limiter.allow(++forged, ms) ? 1 : 0;
        if (ms % 1000 == 0) browserAnswered += limiter.allow(browser, ms) ? 1 : 0;
    }
    EXPECT_EQ(browserAnswered, 10);
    EXPECT_LE(floodAnswered, 50 * 10 + 50) << "new sources share 50 replies a second";
    EXPECT_LE(limiter.trackedSources(),
              AseReplyLimiter::kNewSources + AseReplyLimiter::kReturningSources);
}

namespace {

class AutomaticBanTest : public CoreTest {
protected:
    void TearDown() override {
        delete Ban::getInstance();
        CoreTest::TearDown();
    }
    TempDir m_dir;
};

}  // namespace

TEST_F(AutomaticBanTest, BurstThenOneASecondWithSuppressionsLogged) {
    Ban* bans = Ban::getInstance();
    bans->load(m_dir.file("banned.txt").c_str());
    int added = 0;
    for (int i = 0; i < 25; ++i) {
        std::string address = "10.0.1." + std::to_string(i + 1);
        added += bans->addAutomaticIP(address.c_str()) ? 1 : 0;
    }
    EXPECT_EQ(added, 20);
    EXPECT_EQ(console(),
              "SERVER-WARNING: Automatic ban of '10.0.1.21' suppressed: too many automatic "
              "bans.\n");
    clearConsole();
    Clock::advanceMillis(1000);
    EXPECT_TRUE(bans->addAutomaticIP("10.0.2.1"));
    EXPECT_FALSE(bans->addAutomaticIP("10.0.2.2"));
    EXPECT_EQ(console(),
              "SERVER-WARNING: Automatic ban of '10.0.2.2' suppressed: too many automatic bans. "
              "(4 more suppressed before it)\n");
    EXPECT_TRUE(bans->addIP("10.0.3.1")) << "an admin's ban is never limited";
    EXPECT_EQ(bans->getEntryCount(), 22);
}

TEST(LogLimiter, LimitsEachSourceAndReportsWhatWasHeldBack) {
    LogLimiter limiter;
    int written = 0;
    for (int i = 0; i < 30; ++i) written += limiter.allow(0x0A000001, 0) ? 1 : 0;
    EXPECT_EQ(written, 10) << "a burst of ten from one source";
    EXPECT_TRUE(limiter.allow(0x0A000002, 0)) << "another source is not held back by the first";
    EXPECT_EQ(limiter.takeSummary(), "SERVER-WARNING: 20 log lines suppressed.");
    EXPECT_EQ(limiter.takeSummary(), "");
    // Many sources together stop at the total.
    written = 0;
    for (std::uint32_t source = 1; source <= 500; ++source) {
        written += limiter.allow(0x0B000000 + source, 1) ? 1 : 0;
    }
    EXPECT_EQ(written, 100 - 11);
}
