#pragma once

#include "FrameRecord.h"
#include "LockedList.h"

namespace FrameStacker {

// Stacks the pending frames, earliest on top, into record's image and sets its shot
// count; false (record untouched) when no frame is pending. Frames of another size or
// type than the first are converted to match it. Frames arriving meanwhile are dropped
// with the rest of the pending list.
bool stack(LockedList<cv::Mat> &pending, FrameRecord &record);

} // namespace FrameStacker
