#pragma once

// One glue dot found by the detector. The box is in pixels of the inspected image and is
// not clipped to it: x and y may be negative, x + width may pass its right edge.
struct Detection
{
    int classId = 0; // index into GlueDotDetector::classNames
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};
