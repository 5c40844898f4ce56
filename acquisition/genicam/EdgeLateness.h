#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>

// How late a product's rising edge is, for a camera whose edges the station learns from
// its frames: the product's start against the host's time when the opening frame was
// handled. The two clocks differ by an unknown offset, so the quickest of the recent
// edges stands for "on time" and lateness is measured from it. A product whose first
// frame never came is opened by a later one: the product began a period after the previous
// opening frame, and the time from then to the opening frame is late too. An edge more
// than half a product late may have its reject pulse hit the next box.
class EdgeLateness
{
public:
    static constexpr size_t kKept = 64;

    struct Edge
    {
        int64_t lateNs = 0;      // beyond the quickest recent edge
        bool overHalf = false;   // more than half the product period late
    };

    Edge open(uint64_t frameNs, uint64_t hostNs);
    // The median gap between recent edges' opening frames; 0 until a few are known.
    uint64_t periodNs() const;

private:
    std::deque<int64_t> m_delays;   // host minus frame time, per edge
    std::deque<uint64_t> m_periods; // between consecutive edges' opening frames
    uint64_t m_lastFrameNs = 0;
};
