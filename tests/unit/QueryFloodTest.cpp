#include <gtest/gtest.h>

#include <random>

#include "listing/ASEReplyLimiter.h"

namespace {

constexpr std::uint32_t kBrowser = 0x7F000002;
constexpr std::uint32_t kFloodBase = 0x0A000000;
// A status reply of a server with no players, against a one-byte query.
constexpr long kReplyBytes = 107;

// Drains the new sources' shared budget with queries from sources never seen before.
void exhaustNewBudget(AseReplyLimiter& limiter, std::int64_t nowMs, std::uint32_t* next) {
    for (int i = 0; i < 100; ++i) limiter.allow(kFloodBase + (*next)++, nowMs);
}

}  // namespace

// 5,000 queries a second for ten seconds from floods of every shape, while a browser that came
// 2.5 seconds earlier refreshes once a second. Sources that come back fast, forged sources that
// never come back, and sources that come back at a browser's pace alike get fewer reply bytes
// than they sent, and the browser is answered every time.
TEST(AseReplyLimiter, FloodsOfEveryShapeAreNotAmplifiedAndSpareAKnownBrowser) {
    struct Case {
        const char* what;
        std::uint32_t sources;
        bool randomOrder;
    };
    const Case cases[] = {
        {"1,000 sources, five times a second each", 1000, true},
        {"2,000 sources in random order", 2000, true},
        {"5,000 sources, each once a second like a browser", 5000, false},
        {"5,000 sources, once a second on average", 5000, true},
        {"100,000 sources, rarely back", 100000, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        AseReplyLimiter limiter;
        std::mt19937 random(c.sources);
        std::uint32_t next = 0;
        long floodReplies = 0;
        int browserAnswered = 0;
        for (std::int64_t ms = 0; ms < 12500; ++ms) {
            if (ms % 1000 == 0) {
                bool answered = limiter.allow(kBrowser, ms);
                if (ms > 2500) browserAnswered += answered ? 1 : 0;
            }
            if (ms < 2500) continue;
            for (int i = 0; i < 5; ++i) {
                std::uint32_t source = c.randomOrder ? random() % c.sources : next++ % c.sources;
                floodReplies += limiter.allow(kFloodBase + source, ms) ? 1 : 0;
            }
        }
        EXPECT_EQ(browserAnswered, 10);
        EXPECT_LE(floodReplies * kReplyBytes, 50000) << floodReplies << " replies";
        EXPECT_LE(limiter.trackedSources(),
                  AseReplyLimiter::kNewSources + AseReplyLimiter::kReturningSources);
    }
}

// With one known place: the first browser keeps it while it keeps coming back, a second one
// waits among the unknown sources until the first has been silent for a minute, and a known
// source that starts to hammer loses its place.
TEST(AseReplyLimiter, KnownPlacesAreKeptWhileUsedFreedWhenIdleAndLostByHammering) {
    AseReplyLimiter limiter(1000, 1);
    const std::uint32_t first = 0x7F000010;
    const std::uint32_t second = 0x7F000011;
    std::uint32_t forged = 0;
    for (std::int64_t ms = 0; ms <= 3000; ms += 1000) {
        limiter.allow(first, ms);
        limiter.allow(second, ms + 1);
    }
    exhaustNewBudget(limiter, 4000, &forged);
    EXPECT_TRUE(limiter.allow(first, 4000)) << "known: answered by its own limit";
    EXPECT_FALSE(limiter.allow(second, 4001)) << "no place: shares the spent budget";

    // The first goes silent; a minute later its place goes to the second.
    for (std::int64_t ms = 5000; ms <= 64000; ms += 1000) limiter.allow(second, ms + 1);
    exhaustNewBudget(limiter, 65000, &forged);
    EXPECT_TRUE(limiter.allow(second, 65001));
    EXPECT_FALSE(limiter.allow(first, 65002));

    // The second sends its next minute's worth at once and becomes one of the crowd again.
    for (int i = 0; i < 70; ++i) limiter.allow(second, 66000);
    exhaustNewBudget(limiter, 70000, &forged);
    EXPECT_FALSE(limiter.allow(second, 70001));
}
