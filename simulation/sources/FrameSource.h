#pragma once

#include <opencv2/core/mat.hpp>

#include <string>
#include <vector>

// Where the simulated line gets the pictures of its products.
class FrameSource
{
public:
    struct Product
    {
        std::vector<cv::Mat> frames; // one per shot, earliest first
        bool ng = false;             // carries a defect that must be ejected
        std::string label;           // what it is, for logs
    };

    virtual ~FrameSource() = default;
    // The next product seen by camera `camera`, shot `shots` times. Called from the line
    // simulator's thread only.
    virtual Product next(int camera, int shots) = 0;
    // A line on what the source has handed out so far, for the line's account; empty when
    // there is nothing to say. Any thread.
    virtual std::string account() const { return {}; }
};
