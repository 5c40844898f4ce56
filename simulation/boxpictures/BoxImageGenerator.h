#pragma once

#include <opencv2/core.hpp>

#include <cstdint>
#include <string>
#include <vector>

// Pictures of a small box's face as the station's cameras see them (728 × 544, grey or
// colour): carton texture, print, uneven light, noise, blur, and 0 to 10 glue dots with
// their boxes. Every picture depends only on (seed, index), so any one of them can be
// remade alone, in any order, on any machine with the same OpenCV and compiler.
class BoxImageGenerator
{
public:
    // What went wrong with one dot of a product. None means the product is good.
    enum Defect { None = 0, Missing = 1, Shrunk = 2, Smeared = 3 };

    struct Picture
    {
        cv::Mat image;               // 8-bit, one channel (grey) or BGR
        std::vector<cv::Rect2f> dots; // glue dots in pixels; shrunk drops and smears are not dots
    };

    // Three images of one product stacked top to bottom, as the line delivers them.
    struct Product
    {
        cv::Mat stacked;
        Picture images[3];
        int expected[3] = {0, 0, 0}; // dots the recipe asks for in each image
        Defect defect = None;
        int defectImage = -1;        // 0..2, or -1 for a good product
    };

    struct Options
    {
        cv::Size size{728, 544};
        bool colour = false;
        int minDots = 0;
        int maxDots = 10;
        bool distractors = true; // shrunk drops and smears that must not count as dots
        // More print of a dot's size (short codes, small rings), for training: such print is
        // rare on a box, so a network sees too little of it to learn to pass over it.
        bool smallPrint = false;
        // Only the smallest dots (for training): they are the ones a network misses first.
        bool smallDots = false;
        // Glue as other cameras and lights show it (for training): domed, flat, rimmed or
        // wetting profiles, highlights from none to sharp and saturated, several or a ring,
        // faint to strong contrast either way, dots over print and its edges, print of a
        // dot's size (marked discs, thin rings, triangles, squares), motion blur and JPEG
        // loss. A network that sees only one way of drawing glue learns that way.
        bool varied = false;
    };

    explicit BoxImageGenerator(std::uint64_t seed);

    Picture picture(int index, const Options &options) const;
    // Pictures for training and evaluation: a quarter of them in colour.
    Picture picture(int index) const { return picture(index, pictureOptions(index)); }
    // The options picture(index) uses: the defaults, and colour for a quarter of the indices.
    Options pictureOptions(int index) const;
    // A product with three images of `dotsPerImage` dots each (0: drawn at random from 3..10).
    // Half the products are good; the rest carry one defect in one image.
    Product product(int index, bool colour = false, int dotsPerImage = 0) const;
    // The defect product(index) carries and its image (-1 for a good product), without
    // drawing it.
    Defect productDefect(int index, int *defectImage = nullptr) const;

    static const char *defectName(Defect d);
    // Darknet label lines ("0 cx cy w h", relative to the image size).
    static std::string darknetLabels(const Picture &picture);

private:
    std::uint64_t m_seed;
};
