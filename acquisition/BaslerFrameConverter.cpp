#include "BaslerFrameConverter.h"

#include <opencv2/imgproc.hpp>

#include <cstring>

namespace {

cv::Mat wrap(const BaslerGrabResult &r, int type)
{
    return cv::Mat(r.height, r.width, type, const_cast<uint8_t *>(r.buffer), r.strideBytes);
}

// 16-bit grey, row by row: a row need not start on an even address.
cv::Mat wide(const BaslerGrabResult &r)
{
    cv::Mat out(r.height, r.width, CV_16UC1);
    for (int y = 0; y < r.height; ++y)
        std::memcpy(out.ptr(y), r.buffer + static_cast<size_t>(y) * r.strideBytes, r.width * 2u);
    return out;
}

// Packed grey: values of `bits` bits one after the other, least significant bits first;
// each kept as its 8 most significant bits.
cv::Mat unpack(const BaslerGrabResult &r, int bits)
{
    cv::Mat out(r.height, r.width, CV_8UC1);
    for (int y = 0; y < r.height; ++y) {
        const uint8_t *row = r.buffer + static_cast<size_t>(y) * r.strideBytes;
        uint8_t *dst = out.ptr<uint8_t>(y);
        uint64_t acc = 0;
        int have = 0;
        size_t in = 0;
        for (int x = 0; x < r.width; ++x) {
            while (have < bits) {
                acc |= uint64_t(row[in++]) << have;
                have += 8;
            }
            const unsigned value = unsigned(acc & ((1u << bits) - 1));
            acc >>= bits;
            have -= bits;
            dst[x] = static_cast<uint8_t>(value >> (bits - 8));
        }
    }
    return out;
}

} // namespace

cv::Mat BaslerFrameConverter::toMono8(const BaslerGrabResult &r)
{
    if (!r.buffer || r.width <= 0 || r.height <= 0)
        return cv::Mat();
    cv::Mat out;
    switch (r.pixelFormat) {
    case BaslerGrabResult::kMono8:
        return wrap(r, CV_8UC1).clone();
    case BaslerGrabResult::kBgr8:
        cv::cvtColor(wrap(r, CV_8UC3), out, cv::COLOR_BGR2GRAY);
        return out;
    case BaslerGrabResult::kRgb8:
        cv::cvtColor(wrap(r, CV_8UC3), out, cv::COLOR_RGB2GRAY);
        return out;
    case BaslerGrabResult::kMono10:
        wide(r).convertTo(out, CV_8U, 1.0 / 4);
        return out;
    case BaslerGrabResult::kMono12:
        wide(r).convertTo(out, CV_8U, 1.0 / 16);
        return out;
    case BaslerGrabResult::kMono10p:
        return unpack(r, 10);
    case BaslerGrabResult::kMono12p:
        return unpack(r, 12);
    // OpenCV names a Bayer pattern by the second row's colours, the camera by the first's.
    case BaslerGrabResult::kBayerRG8:
        cv::cvtColor(wrap(r, CV_8UC1), out, cv::COLOR_BayerBG2GRAY);
        return out;
    case BaslerGrabResult::kBayerBG8:
        cv::cvtColor(wrap(r, CV_8UC1), out, cv::COLOR_BayerRG2GRAY);
        return out;
    case BaslerGrabResult::kBayerGR8:
        cv::cvtColor(wrap(r, CV_8UC1), out, cv::COLOR_BayerGB2GRAY);
        return out;
    case BaslerGrabResult::kBayerGB8:
        cv::cvtColor(wrap(r, CV_8UC1), out, cv::COLOR_BayerGR2GRAY);
        return out;
    default:
        return cv::Mat();
    }
}
