#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>

// How late a product's rising edge is, for a camera whose edges the station learns from
// its frames: the first frame's own time (the camera's clock) against the host's time
// when the frame was handled. The two clocks differ by an unknown offset, so the
// quickest of the recent edges stands for "on time" and lateness is measured from it. An
// edge more than half a product late may have had its reject pulse hit the next box.
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
    // The median gap between recent edges (frame times); 0 until a few are known.
    uint64_t periodNs() const;

private:
    std::deque<int64_t> m_delays;   // host minus frame time, per edge
    std::deque<uint64_t> m_periods; // between consecutive edges' frame times
    uint64_t m_lastFrameNs = 0;
};
