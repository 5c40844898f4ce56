#include "FrameStacker.h"

#include <opencv2/imgproc.hpp>

void FrameStacker::deliverProduct(LockedList<cv::Mat> &pending, SyncQueue<FrameRecord> *imageQueue,
                                  LockedList<bool> *shootedList)
{
    const int n = pending.size();
    if (n < 1) {
        pending.clear();
        return;
    }
    cv::Mat tall;
    int rows = 0;
    for (int i = 0; i < n; ++i) {
        cv::Mat frame;
        if (!pending.pop(frame) || frame.empty())
            continue;
        if (tall.empty()) {
            rows = frame.rows;
            tall = cv::Mat::zeros(n * rows, frame.cols, frame.type());
        }
        if (frame.type() != tall.type()) {
            if (frame.channels() == 1 && tall.channels() == 3)
                cv::cvtColor(frame, frame, cv::COLOR_GRAY2BGR);
            else if (frame.channels() == 3 && tall.channels() == 1)
                cv::cvtColor(frame, frame, cv::COLOR_BGR2GRAY);
            frame.convertTo(frame, tall.type());
        }
        if (frame.rows != rows || frame.cols != tall.cols)
            cv::resize(frame, frame, cv::Size(tall.cols, rows));
        frame.copyTo(tall.rowRange(i * rows, (i + 1) * rows));
    }
    if (!tall.empty() && imageQueue) {
        imageQueue->put(FrameRecord{n, tall});
        if (shootedList)
            shootedList->push(true);
    }
    pending.clear();
}

bool FrameStacker::verdictAtEjector(LockedList<bool> *resultWaitList, LockedList<bool> *resultList,
                                    LockedList<bool> *shootedList, bool &verdict)
{
    bool have = false;
    if (resultWaitList && resultWaitList->size() > 0) {
        bool waiting = false;
        resultWaitList->pop(waiting);
        if (resultList && resultList->size() > 0)
            have = resultList->pop(verdict);
    }
    if (shootedList && resultWaitList && shootedList->size() > 0) {
        bool shot = false;
        shootedList->pop(shot);
        resultWaitList->push(true);
    }
    return have;
}
