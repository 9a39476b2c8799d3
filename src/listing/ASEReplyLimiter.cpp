#include "listing/ASEReplyLimiter.h"

namespace {

constexpr std::int64_t kMinAgeMs = 1000;
constexpr std::int64_t kSlackQueries = 2;
constexpr std::int64_t kReturningIdleMs = 60000;

}  // namespace

AseReplyLimiter::AseReplyLimiter(std::size_t newSources, std::size_t returningSources)
    : m_newCapacity(newSources == 0 ? 1 : newSources),
      m_returningCapacity(returningSources == 0 ? 1 : returningSources) {}

// A browser's pace: no more than the slack plus one query a second since first seen. A flood's
// sources that come back mostly come back faster; the few that keep this pace are held to the
// known places and the promotion rate.
bool AseReplyLimiter::isPolite(const Source& source, std::int64_t nowMs) const {
    std::int64_t age = nowMs - source.firstSeen;
    return source.queries * 1000 <= kSlackQueries * 1000 + age;
}

// Known sources keep their place while they come back, so a flood cannot push them out.
bool AseReplyLimiter::makeRoomForReturning(std::int64_t nowMs) {
    if (m_returningOrder.size() < m_returningCapacity) return true;
    auto oldest = m_sources.find(m_returningOrder.front());
    if (nowMs - oldest->second.lastSeen < kReturningIdleMs) return false;
    m_returningOrder.pop_front();
    m_sources.erase(oldest);
    return true;
}

// Also marks the source as just seen: the end of a list is its most recent end.
void AseReplyLimiter::moveTo(Source& source, bool returning) {
    std::list<std::uint32_t>& from = source.returning ? m_returningOrder : m_newOrder;
    std::list<std::uint32_t>& to = returning ? m_returningOrder : m_newOrder;
    to.splice(to.end(), from, source.position);
    source.returning = returning;
}

bool AseReplyLimiter::allow(std::uint32_t address, std::int64_t nowMs) {
    auto found = m_sources.find(address);
    if (found == m_sources.end()) {
        if (m_newOrder.size() >= m_newCapacity) {
            m_sources.erase(m_newOrder.front());
            m_newOrder.pop_front();
        }
        found = m_sources.emplace(address, Source{}).first;
        found->second.firstSeen = nowMs;
        found->second.position = m_newOrder.insert(m_newOrder.end(), address);
    }
    Source& source = found->second;
    ++source.queries;
    source.lastSeen = nowMs;
    bool polite = isPolite(source, nowMs);
    if (source.returning && !polite) {
        moveTo(source, false);
    } else if (!source.returning && polite && nowMs - source.firstSeen >= kMinAgeMs &&
               makeRoomForReturning(nowMs) && m_promotions.take(nowMs)) {
        moveTo(source, true);
    } else {
        moveTo(source, source.returning);
    }
    if (!source.bucket.take(nowMs)) return false;
    return source.returning || m_newBudget.take(nowMs);
}
