#include "core/LogLimiter.h"

bool LogLimiter::allow(std::uint32_t source, std::int64_t nowMs) {
    auto found = m_sources.find(source);
    if (found == m_sources.end()) {
        if (m_order.size() >= kMaxSources) {
            m_sources.erase(m_order.front());
            m_order.pop_front();
        }
        found = m_sources.emplace(source, TokenBucket(5, 10)).first;
        m_order.push_back(source);
    }
    if (found->second.take(nowMs) && m_total.take(nowMs)) return true;
    ++m_suppressed;
    return false;
}

std::string LogLimiter::takeSummary() {
    if (m_suppressed == 0) return std::string();
    std::string summary =
        "SERVER-WARNING: " + std::to_string(m_suppressed) + " log lines suppressed.";
    m_suppressed = 0;
    return summary;
}
