// Who gets an answer on the query port. Queries are unauthenticated UDP: a forged source turns
// every reply into traffic aimed at a third party. Each source gets a burst of 10 replies and
// then one a second, and all sources together at most 100 a second. Sources that come back
// (a browser refreshing its list) are kept apart from first-time sources, which a flood of
// forged addresses is made of, so a flood cannot push a returning browser out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <unordered_map>

#include "core/TokenBucket.h"

class AseReplyLimiter {
public:
    static constexpr std::size_t kNewSources = 16384;
    static constexpr std::size_t kReturningSources = 4096;

    AseReplyLimiter(std::size_t newSources = kNewSources,
                    std::size_t returningSources = kReturningSources);

    // Whether a query from `source` (an IPv4 address) at `nowMs` may be answered.
    bool allow(std::uint32_t source, std::int64_t nowMs);

    std::size_t trackedSources() const { return m_sources.size(); }

private:
    struct Source {
        TokenBucket bucket{1, 10};
        bool returning = false;
        std::list<std::uint32_t>::iterator position;
    };

    void touch(Source& source);
    void evictFrom(std::list<std::uint32_t>& order);

    std::size_t m_newCapacity;
    std::size_t m_returningCapacity;
    std::unordered_map<std::uint32_t, Source> m_sources;
    // Least recently seen first, one list per kind of source.
    std::list<std::uint32_t> m_newOrder;
    std::list<std::uint32_t> m_returningOrder;
    TokenBucket m_newBudget{50, 50};
    TokenBucket m_returningBudget{50, 50};
};
