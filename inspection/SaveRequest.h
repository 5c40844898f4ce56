#pragma once

#include <opencv2/core/mat.hpp>

#include <string>

// An image for the saving thread and the full path of its file. An empty image is the
// stop marker of the save queue.
struct SaveRequest
{
    std::string path;
    cv::Mat image;
};
