#pragma once

#include "BoxImageGenerator.h"
#include "FrameSource.h"

#include <atomic>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

// Products drawn by the box-image generator: each good, or with one known defect (a
// missing, shrunk or smeared dot) in one of its images, at a given NG share. Drawing a
// product takes a few hundred milliseconds, far longer than a product window, so a pool
// of products is drawn on a thread of its own at idle priority and shown in turn; the
// line's clock never waits for a picture. The constructor draws the first product of
// each kind needed, so that next() always has one to show.
class GeneratedFrameSource : public FrameSource
{
public:
    static constexpr int kPoolSize = 24; // per kind (good, NG)

    GeneratedFrameSource(uint64_t seed, double ngShare, bool colour, int dotsPerImage);
    ~GeneratedFrameSource() override;

    Product next(int camera, int shots) override;

    // Products drawn so far, of both kinds.
    int pooled() const;

private:
    struct Drawn
    {
        std::vector<cv::Mat> images; // the generator's three
        int defectImage = -1;        // -1: good
        std::string label;
    };

    bool drawOne(); // false when both pools are full
    void drawLoop();

    const BoxImageGenerator m_generator;
    const double m_ngShare;
    const bool m_colour;
    const int m_dotsPerImage;
    std::mt19937 m_rng;             // the line's thread only
    size_t m_next[2] = {0, 0};      // the line's thread only
    int m_index = 0;                // the drawing thread only, after construction
    mutable std::mutex m_mutex;     // guards m_pool
    std::vector<Drawn> m_pool[2];   // [0] good, [1] NG
    std::atomic<bool> m_stop{false};
    std::thread m_drawer;
};
