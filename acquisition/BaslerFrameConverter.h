#pragma once

#include "BaslerCamera.h"

#include <opencv2/core/mat.hpp>

// The station inspects Basler frames as Mono8, whatever the camera sends: colour, Bayer,
// and 10- or 12-bit grey, packed or not.
namespace BaslerFrameConverter {

// A Mono8 copy of the grabbed frame; empty for a pixel format it does not know.
cv::Mat toMono8(const BaslerGrabResult &result);

} // namespace BaslerFrameConverter
