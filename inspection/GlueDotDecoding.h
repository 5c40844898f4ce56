#pragma once

#include "Detection.h"

#include <opencv2/core/mat.hpp>

#include <vector>

// A detection that survived the suppression, with the score its label shows.
struct ScoredDetection
{
    Detection detection;
    float confidence = 0.0f;
};

namespace GlueDotDecoding {

constexpr float kConfidenceThreshold = 0.1f; // a score must be strictly greater
constexpr float kNmsThreshold = 0.4f;

// Turns the network's output matrices (one candidate per row: cx, cy, w, h relative to
// the image, objectness, one score per class) into the kept detections of an image of
// `imageSize`, in the order the suppression returns them. Only the class scores decide;
// suppression is across classes.
std::vector<ScoredDetection> decode(const std::vector<cv::Mat> &outputs, cv::Size imageSize);

// Image `b`'s part of the outputs of a batched forward (images x rows x columns), as views;
// a single image's outputs are 2-D and come back as they are.
std::vector<cv::Mat> imageOutputs(const std::vector<cv::Mat> &outputs, int b);

} // namespace GlueDotDecoding
