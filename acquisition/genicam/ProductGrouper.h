#pragma once

#include <cstdint>
#include <deque>
#include <vector>

// Product windows made out of a line-triggered camera's frames, for a camera whose line
// events do not reach the station (GenICam through Aravis carries no GigE Vision events):
// each product is shotsPerProduct frames taken close together, and products lie further
// apart. A frame that cannot belong to the open product (one too many, or after a gap
// much longer than the product's own) opens the next one. A product whose frames did not
// all come whole is closed without them, so that it is never judged on part of itself;
// so is one that began before the line's rhythm was known (a camera may start in the
// middle of a product).
class ProductGrouper
{
public:
    enum class Step {
        Open,    // a new product's first frame came: its window rises
        Deliver, // the product's frames, all whole: hand them over
        Close    // its window falls (after Deliver, or alone for a product cut short)
    };

    explicit ProductGrouper(int shotsPerProduct);

    int shotsPerProduct() const { return m_shots; }

    // A frame taken at timeNs (the device's clock, or the host's), whole or not; the
    // steps it causes, in order, are appended to steps.
    void frame(uint64_t timeNs, bool whole, std::vector<Step> &steps);

    // No frame came until nowNs (the frames' clock): a product left open for twice the
    // gap limit lost its last frames, and is closed. Should one of them come after all,
    // it is dropped.
    void idle(uint64_t nowNs, std::vector<Step> &steps);

    // The longest gap between two frames of one product still taken as such, learnt
    // from the latest gaps between frames; 0 while the line's rhythm is not known yet
    // (then only the count of frames ends a product, and no product is delivered).
    uint64_t gapLimitNs() const;

private:
    void close(std::vector<Step> &steps);

    const int m_shots;
    bool m_open = false;
    int m_frames = 0;        // of the open product, whole or not
    bool m_allWhole = true;
    bool m_trusted = false;  // the open product began once the rhythm was known
    bool m_seen = false;     // a frame came before
    bool m_closedIdle = false; // the last product was closed by idle(), frames missing
    uint64_t m_last = 0;     // time of the last frame
    std::deque<uint64_t> m_gaps; // between consecutive frames, the latest few
};
