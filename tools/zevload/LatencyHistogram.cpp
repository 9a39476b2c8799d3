#include "LatencyHistogram.h"

#include <bit>

namespace zevload {

void LatencyHistogram::clear() {
    m_buckets.fill(0);
    m_count = 0;
    m_max = 0;
}

int LatencyHistogram::bucketOf(std::uint64_t nanos) {
    if (nanos < 2 * kSub) return static_cast<int>(nanos);
    // Keep the top kSubBits + 1 bits: the shift picks the power of two, the rest the sub-bucket.
    int shift = std::bit_width(nanos) - (kSubBits + 1);
    return (shift + 1) * kSub + static_cast<int>((nanos >> shift) - kSub);
}

std::uint64_t LatencyHistogram::bucketMiddle(int bucket) {
    if (bucket < 2 * kSub) return static_cast<std::uint64_t>(bucket);
    int shift = bucket / kSub - 1;
    std::uint64_t low = static_cast<std::uint64_t>(bucket % kSub + kSub) << shift;
    return low + (std::uint64_t{1} << shift) / 2;
}

void LatencyHistogram::record(std::uint64_t nanos) {
    ++m_buckets[static_cast<std::size_t>(bucketOf(nanos))];
    ++m_count;
    if (nanos > m_max) m_max = nanos;
}

std::uint64_t LatencyHistogram::percentileNanos(double fraction) const {
    if (m_count == 0) return 0;
    auto wanted = static_cast<std::uint64_t>(fraction * static_cast<double>(m_count));
    if (wanted < 1) wanted = 1;
    std::uint64_t seen = 0;
    for (int bucket = 0; bucket < kBuckets; ++bucket) {
        seen += m_buckets[static_cast<std::size_t>(bucket)];
        // The bucket middle can lie above the true maximum in the top bucket.
        if (seen >= wanted) return bucketMiddle(bucket) < m_max ? bucketMiddle(bucket) : m_max;
    }
    return m_max;
}

}  // namespace zevload
