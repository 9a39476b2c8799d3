#include "listing/ASEReplyLimiter.h"

AseReplyLimiter::AseReplyLimiter(std::size_t newSources, std::size_t returningSources)
    : m_newCapacity(newSources == 0 ? 1 : newSources),
      m_returningCapacity(returningSources == 0 ? 1 : returningSources) {}

void AseReplyLimiter::evictFrom(std::list<std::uint32_t>& order) {
    if (order.empty()) return;
    m_sources.erase(order.front());
    order.pop_front();
}

void AseReplyLimiter::touch(Source& source) {
    std::list<std::uint32_t>& order = source.returning ? m_returningOrder : m_newOrder;
    order.splice(order.end(), order, source.position);
}

bool AseReplyLimiter::allow(std::uint32_t address, std::int64_t nowMs) {
    auto found = m_sources.find(address);
    if (found == m_sources.end()) {
        if (m_newOrder.size() >= m_newCapacity) evictFrom(m_newOrder);
        found = m_sources.emplace(address, Source{}).first;
        m_newOrder.push_back(address);
        found->second.position = std::prev(m_newOrder.end());
    } else if (!found->second.returning) {
        // Coming back makes a source a returning one.
        if (m_returningOrder.size() >= m_returningCapacity) evictFrom(m_returningOrder);
        m_newOrder.erase(found->second.position);
        m_returningOrder.push_back(address);
        found->second.position = std::prev(m_returningOrder.end());
        found->second.returning = true;
    } else {
        touch(found->second);
    }
    Source& source = found->second;
    if (!source.bucket.take(nowMs)) return false;
    return source.returning ? m_returningBudget.take(nowMs) : m_newBudget.take(nowMs);
}
