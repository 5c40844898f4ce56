#include "EdgeLateness.h"

#include <algorithm>
#include <vector>

EdgeLateness::Edge EdgeLateness::open(uint64_t frameNs, uint64_t hostNs)
{
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
    edge.lateNs = delay - *std::min_element(m_delays.begin(), m_delays.end());
    const uint64_t period = periodNs();
    edge.overHalf = period > 0 && edge.lateNs > int64_t(period / 2);
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
