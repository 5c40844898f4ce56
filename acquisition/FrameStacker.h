#pragma once

#include "FrameRecord.h"
#include "LockedList.h"
#include "SyncQueue.h"

// The product bookkeeping the three capture workers share.
namespace FrameStacker {

// Falling edge of the product window: stacks the pending frames, earliest on top, into
// one FrameRecord for the image queue and marks a shot product; nothing when no frame is
// pending. Frames of another size or type than the first are converted to match it.
// Frames arriving meanwhile are dropped with the rest of the pending list.
void deliverProduct(LockedList<cv::Mat> &pending, SyncQueue<FrameRecord> *imageQueue,
                    LockedList<bool> *shootedList);

// Rising edge: the product two windows back reaches the ejector. True with its verdict
// (true = good) when one was waiting and the window has given it; then the product shot
// in the window that just ended moves up to wait for its verdict.
bool verdictAtEjector(LockedList<bool> *resultWaitList, LockedList<bool> *resultList,
                      LockedList<bool> *shootedList, bool &verdict);

} // namespace FrameStacker
