#pragma once

#include <opencv2/core.hpp>

#include <cstdio>
#include <string>
#include <vector>

// The label lines that training and evaluation read, one per box: "0 cx cy w h", relative
// to the picture's size, six decimals. Both renderers write their labels through this.
template <typename Rect>
std::string darknetLabels(const std::vector<Rect> &boxes, cv::Size size)
{
    std::string text;
    const double w = size.width, h = size.height;
    char line[96];
    for (const Rect &r : boxes) {
        std::snprintf(line, sizeof line, "0 %.6f %.6f %.6f %.6f\n", (r.x + r.width / 2) / w,
                      (r.y + r.height / 2) / h, r.width / w, r.height / h);
        text += line;
    }
    return text;
}
