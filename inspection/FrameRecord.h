#pragma once

#include <opencv2/core/mat.hpp>

#include <cstdint>

// One product: `shots` equal images stacked top to bottom. An empty image is the stop
// marker of the work thread's queue.
struct FrameRecord
{
    int shots = 0;
    cv::Mat image;        // 8-bit, grey or BGR
    uint64_t product = 0; // the product's number (ProductAccount), carried by its verdict
};
