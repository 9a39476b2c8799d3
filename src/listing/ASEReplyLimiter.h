// Who gets an answer on the query port. Queries are unauthenticated UDP: a forged source turns
// every reply into traffic aimed at a third party, and a flood of them must not crowd out the
// browsers that are really there.
//
// Each source gets a burst of 10 replies and then one a second. Known sources (browsers that
// refresh their list) are answered by that rule alone; all other sources share 10 replies a
// second, with a burst of 50. A source becomes known when it comes back at a browser's pace: a
// second or more after it was first seen, having sent no more than two queries plus one a
// second since then. It stays known while it keeps that pace. At most 32 are known at a time and
// one more a second; a known source keeps its place until it has been silent for a minute. A
// flood, forged or not, thus gets at most about 10 + 32 replies a second, and a browser known
// before it started is answered throughout.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <unordered_map>

#include "core/TokenBucket.h"

class AseReplyLimiter {
public:
    static constexpr std::size_t kNewSources = 16384;
    static constexpr std::size_t kReturningSources = 32;

    // `newSources` bounds the sources tracked while unknown, `returningSources` the known ones.
    AseReplyLimiter(std::size_t newSources = kNewSources,
                    std::size_t returningSources = kReturningSources);

    // Whether a query from `source` (an IPv4 address) at `nowMs` may be answered.
    bool allow(std::uint32_t source, std::int64_t nowMs);

    std::size_t trackedSources() const { return m_sources.size(); }

private:
    struct Source {
        TokenBucket bucket{1, 10};
        std::int64_t firstSeen = 0;
        std::int64_t lastSeen = 0;
        std::int64_t queries = 0;
        bool returning = false;
        std::list<std::uint32_t>::iterator position;
    };

    bool isPolite(const Source& source, std::int64_t nowMs) const;
    bool makeRoomForReturning(std::int64_t nowMs);
    void moveTo(Source& source, bool returning);

    std::size_t m_newCapacity;
    std::size_t m_returningCapacity;
    std::unordered_map<std::uint32_t, Source> m_sources;
    // Least recently seen first, one list per kind of source.
    std::list<std::uint32_t> m_newOrder;
    std::list<std::uint32_t> m_returningOrder;
    TokenBucket m_newBudget{10, 50};
    // A flood of sources that keep a browser's pace would otherwise cycle through the known
    // places, each arriving with a burst of its own.
    TokenBucket m_promotions{1, 10};
};
