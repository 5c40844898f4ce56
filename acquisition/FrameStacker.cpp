#include "FrameStacker.h"

#include <opencv2/imgproc.hpp>

bool FrameStacker::stack(LockedList<cv::Mat> &pending, FrameRecord &record)
{
    const int n = pending.size();
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
    pending.clear();
    if (tall.empty())
        return false;
    record.shots = n;
    record.image = tall;
    return true;
}
