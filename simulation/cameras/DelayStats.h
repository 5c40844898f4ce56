#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <mutex>

// Delays in milliseconds, summed up for a report: count, mean, maximum and percentiles
// at a resolution of 0.1 ms up to one second (longer ones count as one second in the
// percentiles, and as themselves in the maximum). Safe to add to from any thread.
class DelayStats
{
public:
    void add(double ms)
    {
        const int bucket = std::clamp(static_cast<int>(ms * 10.0), 0, kBuckets - 1);
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_count;
        m_sumMs += ms;
        m_maxMs = std::max(m_maxMs, ms);
        ++m_buckets[bucket];
    }

    uint64_t count() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_count;
    }
    double maxMs() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_maxMs;
    }
    double meanMs() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_count ? m_sumMs / m_count : 0.0;
    }
    // The delay that `share` (0..1) of the samples did not exceed, to 0.1 ms.
    double percentileMs(double share) const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_count == 0)
            return 0.0;
        const uint64_t rank = std::max<uint64_t>(1, static_cast<uint64_t>(share * m_count + 0.5));
        uint64_t seen = 0;
        for (int b = 0; b < kBuckets; ++b) {
            seen += m_buckets[b];
            if (seen >= rank)
                return (b + 1) / 10.0;
        }
        return kBuckets / 10.0;
    }
    void clear()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_count = 0;
        m_sumMs = 0;
        m_maxMs = 0;
        m_buckets.fill(0);
    }

private:
    static constexpr int kBuckets = 10000;
    mutable std::mutex m_mutex; // guards everything below
    uint64_t m_count = 0;
    double m_sumMs = 0;
    double m_maxMs = 0;
    std::array<uint32_t, kBuckets> m_buckets{};
};
