// Box faces with glue dots, drawn from a small physical model: a fibrous carton under a
// ring light, printed artwork, and each dot as a height map shaded by the ring's lamps.
// It is written apart from BoxImageGenerator so that the model can be measured on
// pictures it was not trained on. Every picture depends on (seed, index) alone.
#pragma once

#include <opencv2/core.hpp>

#include <cstdint>
#include <vector>

class RingLightRenderer
{
public:
    static constexpr int Width = 728;
    static constexpr int Height = 544;
    static constexpr int MinDot = 10;  // pixels across a dot's footprint, both axes
    static constexpr int MaxDot = 41;
    static constexpr int MaxDots = 10; // per picture
    static constexpr int MinProductDots = 3;

    enum class Defect { Good, Missing, Shrunk, Smeared };

    struct Dot
    {
        cv::Rect2d box;      // the glue's footprint, in pixels
        bool brighter;       // drawn to stand out brighter than the board
    };

    struct Picture
    {
        cv::Mat image;       // Width x Height, CV_8UC1 or CV_8UC3
        std::vector<Dot> dots;
    };

    struct Product
    {
        std::vector<Picture> images; // three views, all grey or all colour
        int expected = 0;            // dots a good product has in each view
        Defect defect = Defect::Good;
        int defectImage = -1;        // the view with the defect, -1 when good
    };

    explicit RingLightRenderer(std::uint64_t seed = 1);

    Picture picture(long index) const;
    Product product(long index) const;

    static const char *defectName(Defect defect);

private:
    std::uint64_t m_seed;
};
