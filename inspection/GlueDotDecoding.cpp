#include "GlueDotDecoding.h"

#include <opencv2/dnn.hpp>

namespace GlueDotDecoding {

std::vector<ScoredDetection> decode(const std::vector<cv::Mat> &outputs, cv::Size imageSize)
{
    std::vector<int> classIds;
    std::vector<float> confidences;
    std::vector<cv::Rect> boxes;
    const int W = imageSize.width;
    const int H = imageSize.height;
    for (const cv::Mat &out : outputs) {
        CV_Assert(out.dims == 2 && out.type() == CV_32F);
        for (int r = 0; r < out.rows; ++r) {
            const float *row = out.ptr<float>(r);
            int best = -1;
            float bestScore = 0.0f;
            for (int c = 5; c < out.cols; ++c) {
                if (best < 0 || row[c] > bestScore) { // ties keep the first column
                    best = c;
                    bestScore = row[c];
                }
            }
            if (best < 0 || !(bestScore > kConfidenceThreshold))
                continue;
            const int width = int(row[2] * W);
            const int height = int(row[3] * H);
            const int left = int(row[0] * W) - width / 2;
            const int top = int(row[1] * H) - height / 2;
            classIds.push_back(best - 5);
            confidences.push_back(bestScore);
            boxes.emplace_back(left, top, width, height);
        }
    }
    std::vector<int> kept;
    cv::dnn::NMSBoxes(boxes, confidences, kConfidenceThreshold, kNmsThreshold, kept, 1.0f, 0);
    std::vector<ScoredDetection> result;
    result.reserve(kept.size());
    for (int k : kept) {
        ScoredDetection d;
        d.detection.classId = classIds[k];
        d.detection.x = boxes[k].x;
        d.detection.y = boxes[k].y;
        d.detection.width = boxes[k].width;
        d.detection.height = boxes[k].height;
        d.confidence = confidences[k];
        result.push_back(d);
    }
    return result;
}

std::vector<cv::Mat> imageOutputs(const std::vector<cv::Mat> &outputs, int b)
{
    std::vector<cv::Mat> planes;
    for (const cv::Mat &out : outputs)
        planes.push_back(out.dims == 2
                             ? out
                             : cv::Mat(out.size[1], out.size[2], CV_32F, const_cast<float *>(out.ptr<float>(b))));
    return planes;
}

} // namespace GlueDotDecoding
