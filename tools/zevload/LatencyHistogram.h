// A fixed-size log-linear histogram of nanosecond latencies: exact below 256 ns, then 128
// buckets per power of two (under 0.8 % error), no allocation when recording.
#pragma once

#include <array>
#include <cstdint>

namespace zevload {

class LatencyHistogram {
public:
    void clear();
    void record(std::uint64_t nanos);

    std::uint64_t count() const { return m_count; }
    std::uint64_t maxNanos() const { return m_max; }
    // The smallest recorded value v such that at least `fraction` of the samples are <= v, as the
    // middle of its bucket; 0 when empty.
    std::uint64_t percentileNanos(double fraction) const;

private:
    static constexpr int kSubBits = 7;
    static constexpr int kSub = 1 << kSubBits;
    static constexpr int kBuckets = (64 - kSubBits) * kSub;

    static int bucketOf(std::uint64_t nanos);
    static std::uint64_t bucketMiddle(int bucket);

    std::array<std::uint64_t, kBuckets> m_buckets{};
    std::uint64_t m_count = 0;
    std::uint64_t m_max = 0;
};

}  // namespace zevload
