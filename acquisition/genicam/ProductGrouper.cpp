#include "ProductGrouper.h"

#include <algorithm>

namespace {
constexpr size_t kGapsKept = 15;
// Shots of one product follow each other closely and evenly; the next product's first
// shot is far later (its window starts a period after the last one's). Three times the
// usual gap separates the two on any line rate with at least twice the shots' spread in
// each period.
constexpr uint64_t kGapFactor = 3;
} // namespace

ProductGrouper::ProductGrouper(int shotsPerProduct)
    : m_shots(std::max(1, shotsPerProduct))
{
}

uint64_t ProductGrouper::gapLimitNs() const
{
    if (m_gaps.empty())
        return 0;
    std::vector<uint64_t> gaps(m_gaps.begin(), m_gaps.end());
    std::nth_element(gaps.begin(), gaps.begin() + gaps.size() / 2, gaps.end());
    return kGapFactor * std::max<uint64_t>(gaps[gaps.size() / 2], 1);
}

void ProductGrouper::frame(uint64_t timeNs, bool whole, std::vector<Step> &steps)
{
    if (m_open) {
        const uint64_t gap = timeNs > m_last ? timeNs - m_last : 0;
        const uint64_t limit = gapLimitNs();
        if (limit > 0 && gap > limit)
            close(steps); // frames of this product were lost: the next one has begun
        else if (m_frames == 1)
            m_firstGap = gap;
    }
    if (!m_open) {
        m_open = true;
        m_frames = 0;
        m_allWhole = true;
        m_firstGap = 0;
        steps.push_back(Step::Open);
    }
    ++m_frames;
    m_allWhole = m_allWhole && whole;
    if (m_frames > 1 && m_allWhole && m_frames == m_shots) {
        // A product that came whole teaches the usual gap between its shots (its first
        // gap stands for the others: the shots are evenly spread).
        m_gaps.push_back(m_firstGap);
        if (m_gaps.size() > kGapsKept)
            m_gaps.pop_front();
    }
    m_last = timeNs;
    if (m_frames >= m_shots)
        close(steps);
}

void ProductGrouper::close(std::vector<Step> &steps)
{
    if (m_allWhole && m_frames == m_shots)
        steps.push_back(Step::Deliver);
    steps.push_back(Step::Close);
    m_open = false;
}

void ProductGrouper::idle(uint64_t nowNs, std::vector<Step> &steps)
{
    const uint64_t limit = gapLimitNs();
    if (m_open && limit > 0 && nowNs > m_last && nowNs - m_last > limit)
        close(steps);
}
