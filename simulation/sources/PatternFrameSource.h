#pragma once

#include "FrameSource.h"

#include <random>

// Plain grey frames that say what they are: the first row carries the product number
// (pixels 0..3, little-endian) and the shot number (pixel 4), so a test can tell exactly
// which frame went where. A seeded share of the products is NG.
class PatternFrameSource : public FrameSource
{
public:
    PatternFrameSource(int width, int height, double ngShare, unsigned seed);

    Product next(int camera, int shots) override;

    static uint32_t productNumberOf(const cv::Mat &frame);
    static int shotNumberOf(const cv::Mat &frame);

private:
    int m_width;
    int m_height;
    double m_ngShare;
    std::mt19937 m_rng;
    uint32_t m_products = 0;
};
