#pragma once

#include "FrameRecord.h"
#include "LockedList.h"
#include "SaveRequest.h"
#include "SyncQueue.h"
#include "Verdict.h"

#include <opencv2/core/mat.hpp>

// The queues that connect the station's threads, one set per camera position 0..3.
// Created by the main window before any thread starts and released only after every
// thread that uses them has stopped.
extern SyncQueue<SaveRequest> *g_save_queue;                 // "save queue"
extern SyncQueue<FrameRecord> *g_image_queue[4];             // "image_%d"
extern SyncQueue<cv::Mat> *g_debug_queue[4];                 // "debug_%d"
// Verdicts (window -> capture worker), and the numbers of the products waiting for the
// ejector: shot in the last window, then waiting one more window for their verdict.
extern LockedList<Verdict> *g_result_list[4];                // "result_%d"
extern LockedList<uint64_t> *g_result_wait_list[4];          // "result_wait%d"
extern LockedList<uint64_t> *g_shooted_list[4];              // "shooted_%d"

namespace StationQueues {
// The save queue, then per position its image queue, verdict, trigger-wait and shot
// lists and debug queue. Does nothing for queues that already exist.
void create();
// Deletes every queue and leaves null pointers behind.
void release();
}
