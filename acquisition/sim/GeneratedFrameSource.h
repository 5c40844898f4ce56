#pragma once

#include "BoxImageGenerator.h"
#include "FrameSource.h"

#include <random>

// Products drawn by the box-image generator: each good, or with one known defect (a
// missing, shrunk or smeared dot) in one of its images, at a given NG share.
class GeneratedFrameSource : public FrameSource
{
public:
    GeneratedFrameSource(uint64_t seed, double ngShare, bool colour, int dotsPerImage);

    Product next(int camera, int shots) override;

private:
    BoxImageGenerator m_generator;
    double m_ngShare;
    bool m_colour;
    int m_dotsPerImage;
    std::mt19937 m_rng;
    int m_index = 0;
};
