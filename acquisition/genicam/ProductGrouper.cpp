#include "ProductGrouper.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr size_t kGapsKept = 32;
} // namespace

ProductGrouper::ProductGrouper(int shotsPerProduct)
    : m_shots(std::max(1, shotsPerProduct))
{
}

uint64_t ProductGrouper::gapLimitNs() const
{
    // The gaps between frames are of two kinds: inside a product (N - 1 of every N, short
    // and even) and between products (the rest, far longer). A low and a high percentile
    // of the latest gaps stand for the two, whatever the line's rate, and wherever in a
    // product the camera began; the limit lies between them.
    if (m_shots < 2 || m_gaps.size() < size_t(2 * m_shots))
        return 0;
    std::vector<uint64_t> gaps(m_gaps.begin(), m_gaps.end());
    std::sort(gaps.begin(), gaps.end());
    const double inside = double(std::max<uint64_t>(gaps[gaps.size() / 4], 1));
    const double between = double(gaps[gaps.size() * 9 / 10]);
    if (between < 2 * inside)
        return 0; // no rhythm to tell products apart by: the line stopped and started
    return uint64_t(std::sqrt(inside * between));
}

void ProductGrouper::frame(uint64_t timeNs, bool whole, std::vector<Step> &steps)
{
    if (m_seen) {
        m_gaps.push_back(timeNs > m_last ? timeNs - m_last : 0);
        if (m_gaps.size() > kGapsKept)
            m_gaps.pop_front();
    }
    const uint64_t limit = gapLimitNs();
    const uint64_t gap = m_seen && timeNs > m_last ? timeNs - m_last : 0;
    if (!m_open && m_closedIdle && limit > 0 && gap <= limit) {
        // A frame of the product that idle() gave up on came late after all: it must not
        // open a product of its own, or every product after would be counted one off.
        m_last = timeNs;
        return;
    }
    m_closedIdle = false;
    if (m_open && limit > 0 && gap > limit)
        close(steps); // frames of this product were lost: the next one has begun
    if (!m_open) {
        m_open = true;
        m_frames = 0;
        m_allWhole = true;
        // Until the rhythm is known a product may be cut anywhere: it is not judged.
        m_trusted = m_shots == 1 || limit > 0;
        steps.push_back(Step::Open);
    }
    ++m_frames;
    m_allWhole = m_allWhole && whole;
    m_last = timeNs;
    m_seen = true;
    if (m_frames >= m_shots)
        close(steps);
}

void ProductGrouper::idle(uint64_t nowNs, std::vector<Step> &steps)
{
    // Twice the limit: the frames' arrival can lag their time by the stream's own delays.
    const uint64_t limit = gapLimitNs();
    if (m_open && limit > 0 && nowNs > m_last && nowNs - m_last > 2 * limit) {
        close(steps);
        m_closedIdle = true;
    }
}

void ProductGrouper::close(std::vector<Step> &steps)
{
    if (m_trusted && m_allWhole && m_frames == m_shots)
        steps.push_back(Step::Deliver);
    steps.push_back(Step::Close);
    m_open = false;
}
