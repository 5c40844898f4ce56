#pragma once

#include <atomic>
#include <cstdint>

// Per camera position: the numbers given to its products and what went wrong between a
// product's window and its ejection. Written by the capture worker's callbacks and the
// inspection worker, read by anyone; every field is atomic.
class ProductAccount
{
public:
    // The number of the product whose window just closed; never 0, never repeated, also
    // across capture workers of the same position (a camera closed and reopened).
    uint64_t newProduct() { return ++m_lastProduct; }
    uint64_t lastProduct() const { return m_lastProduct; }

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
    std::atomic<uint64_t> m_noFrames{0};
    std::atomic<uint64_t> m_miscounted{0};
    std::atomic<uint64_t> m_unjudged{0};
    std::atomic<uint64_t> m_late{0};
    std::atomic<uint64_t> m_notQueued{0};
};

// One account per camera position 0..3, for the life of the process.
extern ProductAccount g_product_account[4];
