#include "PatternFrameSource.h"

PatternFrameSource::PatternFrameSource(int width, int height, double ngShare, unsigned seed)
    : m_width(width < 8 ? 8 : width)
    , m_height(height < 1 ? 1 : height)
    , m_ngShare(ngShare)
    , m_rng(seed)
{
}

FrameSource::Product PatternFrameSource::next(int, int shots)
{
    Product p;
    const uint32_t number = m_products++;
    p.ng = std::uniform_real_distribution<double>(0.0, 1.0)(m_rng) < m_ngShare;
    p.label = (p.ng ? "ng product " : "good product ") + std::to_string(number);
    for (int s = 0; s < shots; ++s) {
        cv::Mat frame(m_height, m_width, CV_8UC1, cv::Scalar(100 + 40 * (s % 3)));
        for (int b = 0; b < 4; ++b)
            frame.at<uint8_t>(0, b) = static_cast<uint8_t>(number >> (8 * b));
        frame.at<uint8_t>(0, 4) = static_cast<uint8_t>(s);
        p.frames.push_back(frame);
    }
    return p;
}

uint32_t PatternFrameSource::productNumberOf(const cv::Mat &frame)
{
    cv::Mat grey = frame;
    uint32_t n = 0;
    for (int b = 0; b < 4; ++b)
        n |= uint32_t(grey.ptr<uint8_t>(0)[b * grey.channels()]) << (8 * b);
    return n;
}

int PatternFrameSource::shotNumberOf(const cv::Mat &frame)
{
    return frame.ptr<uint8_t>(0)[4 * frame.channels()];
}
