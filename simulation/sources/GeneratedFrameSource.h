#pragma once

#include "BoxImageGenerator.h"
#include "FrameSource.h"

#include <random>

// Products drawn by the box-image generator: each good, or with one known defect (a
// missing, shrunk or smeared dot) in one of its images, at a given NG share. Drawing a
// picture costs milliseconds, so a pool of products is drawn once and shown in turn.
class GeneratedFrameSource : public FrameSource
{
public:
    static constexpr int kPoolSize = 24; // per kind (good, NG)

    GeneratedFrameSource(uint64_t seed, double ngShare, bool colour, int dotsPerImage);

    Product next(int camera, int shots) override;

private:
    BoxImageGenerator m_generator;
    double m_ngShare;
    bool m_colour;
    int m_dotsPerImage;
    std::mt19937 m_rng;
    int m_index = 0;
    std::vector<Product> m_pool[2]; // [0] good, [1] NG
    size_t m_next[2] = {0, 0};
};
