#include "EdgeLateness.h"

#include <algorithm>
#include <vector>

EdgeLateness::Edge EdgeLateness::open(uint64_t frameNs, uint64_t hostNs)
{
    const uint64_t period = periodNs();
    // Where in its product the opening frame was taken: after the time the previous
    // opening frame and the period say the product began. Only for the product right
    // after the last one (after a pause in the line the rhythm says nothing of where it
    // starts); a quarter period of slack lets its first frame come a little early. The
    // next product is measured from this frame, not from that start, so a line slowing
    // down is never taken for ever later edges.
    uint64_t into = 0;
    if (period > 0 && m_lastFrameNs != 0 && frameNs > m_lastFrameNs
        && (frameNs - m_lastFrameNs + period / 4) / period == 1) {
        const uint64_t expected = m_lastFrameNs + period;
        into = frameNs > expected ? frameNs - expected : 0;
    }
    if (m_lastFrameNs != 0 && frameNs > m_lastFrameNs) {
        m_periods.push_back(frameNs - m_lastFrameNs);
        if (m_periods.size() > kKept)
            m_periods.pop_front();
    }
    m_lastFrameNs = frameNs;
    const int64_t delay = int64_t(hostNs) - int64_t(frameNs);
    m_delays.push_back(delay);
    if (m_delays.size() > kKept)
        m_delays.pop_front();
    Edge edge;
    edge.lateNs = delay - *std::min_element(m_delays.begin(), m_delays.end()) + int64_t(into);
    const uint64_t known = periodNs();
    edge.overHalf = known > 0 && edge.lateNs > int64_t(known / 2);
    return edge;
}

uint64_t EdgeLateness::periodNs() const
{
    if (m_periods.size() < 4)
        return 0;
    std::vector<uint64_t> sorted(m_periods.begin(), m_periods.end());
    std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
    return sorted[sorted.size() / 2];
}
