#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>

// Per camera position: the numbers given to its products and what went wrong between a
// product's window and its ejection. Written by the capture worker's callbacks and the
// inspection worker, read by anyone; every field is atomic.
class ProductAccount
{
public:
    // The number of the product whose window just closed; never 0, never repeated, also
    // across capture workers of the same position (a camera closed and reopened).
    uint64_t newProduct()
    {
        const uint64_t product = ++m_lastProduct;
        m_closedAt[product % kRemembered] = Clock::now().time_since_epoch().count();
        m_outcomes[product % kRemembered] = 0;
        return product;
    }
    uint64_t lastProduct() const { return m_lastProduct; }
    // The newest product that has its verdict, or that had nothing to inspect: with
    // lastProduct(), how far inspection is behind the line.
    void noteJudged(uint64_t product)
    {
        uint64_t last = m_lastJudged;
        while (product > last && !m_lastJudged.compare_exchange_weak(last, product)) {
        }
    }
    uint64_t lastJudged() const { return m_lastJudged; }

    // What happened to each of the last kRemembered products at the ejector, and when
    // their windows closed: for the line's account and its benchmarks (an hour at 1,000
    // products/min, so that a long run's products can all be checked at its end).
    static constexpr uint64_t kRemembered = 65536;
    using Clock = std::chrono::steady_clock;
    struct Outcome
    {
        bool known = false;    // the product has reached the ejector
        bool judged = false;   // its own verdict was there in time
        bool good = false;     // that verdict (when judged)
        bool rejected = false; // the reject output fired for it
        bool cutWrongly = false; // not inspected: no frames or a wrong frame count
    };
    void recordOutcome(uint64_t product, Outcome outcome)
    {
        m_decidedAt[product % kRemembered] = Clock::now().time_since_epoch().count();
        m_outcomes[product % kRemembered] |= static_cast<uint8_t>(
            1 | outcome.judged << 1 | outcome.good << 2 | outcome.rejected << 3);
    }
    void markCutWrongly(uint64_t product) { m_outcomes[product % kRemembered] |= 16; }
    Outcome outcome(uint64_t product) const
    {
        const uint8_t bits = m_outcomes[product % kRemembered];
        return {bool(bits & 1), bool(bits & 2), bool(bits & 4), bool(bits & 8), bool(bits & 16)};
    }
    Clock::time_point closedAt(uint64_t product) const
    {
        return Clock::time_point(Clock::duration(m_closedAt[product % kRemembered].load()));
    }
    // When the product's outcome at the ejector was decided (and its pulse given).
    Clock::time_point decidedAt(uint64_t product) const
    {
        return Clock::time_point(Clock::duration(m_decidedAt[product % kRemembered].load()));
    }

    void countNoFrames() { ++m_noFrames; }
    void countMiscounted() { ++m_miscounted; }
    void countUnjudged() { ++m_unjudged; }
    void countLate() { ++m_late; }
    void countNotQueued() { ++m_notQueued; }

    // Windows that closed without a frame.
    uint64_t noFrames() const { return m_noFrames; }
    // Products whose frame count differed from the configured shots.
    uint64_t miscounted() const { return m_miscounted; }
    // Products cut wrongly: frames missing from their window or spilled into another.
    uint64_t cutWrongly() const { return m_noFrames + m_miscounted; }
    // Products that reached the ejector without a verdict and were handled by MISMATCHACT.
    uint64_t unjudged() const { return m_unjudged; }
    // Verdicts that came after their product had passed the ejector, and were discarded.
    uint64_t late() const { return m_late; }
    // Products not inspected because the inspection worker was 15 products behind.
    uint64_t notQueued() const { return m_notQueued; }
    // Products not judged in time, either way: verdicts too late, or no room to inspect.
    uint64_t notInTime() const { return m_late + m_notQueued; }

    // Counters back to 0; product numbers go on.
    void clearCounts()
    {
        m_noFrames = 0;
        m_miscounted = 0;
        m_unjudged = 0;
        m_late = 0;
        m_notQueued = 0;
    }

private:
    std::atomic<uint64_t> m_lastProduct{0};
    std::atomic<uint64_t> m_lastJudged{0};
    std::atomic<uint64_t> m_noFrames{0};
    std::atomic<uint64_t> m_miscounted{0};
    std::atomic<uint64_t> m_unjudged{0};
    std::atomic<uint64_t> m_late{0};
    std::atomic<uint64_t> m_notQueued{0};
    std::array<std::atomic<uint8_t>, kRemembered> m_outcomes{};
    std::array<std::atomic<Clock::rep>, kRemembered> m_closedAt{};
    std::array<std::atomic<Clock::rep>, kRemembered> m_decidedAt{};
};

// One account per camera position 0..3, for the life of the process.
extern ProductAccount g_product_account[4];
