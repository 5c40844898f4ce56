#pragma once

#include "SyncQueue.h"

#include <QThread>

#include <opencv2/core/mat.hpp>

#include <atomic>

// Debug (free-run) view of one camera position: raw frames from the debug queue, turned
// into RGB (colour) or three-channel grey, rotated like the inspection path, to the
// window's main view. Nothing is detected or saved here. Stopped by its destructor.
class DebugThread : public QThread
{
    Q_OBJECT
public:
    explicit DebugThread(QObject *parent = nullptr);
    ~DebugThread() override;

    // Before start().
    void init(int cam, SyncQueue<cv::Mat> *debugQueue);

signals:
    void notify(int cam, int window, cv::Mat image);

protected:
    void run() override;

private:
    int m_cam = 0;
    SyncQueue<cv::Mat> *m_queue = nullptr;
    std::atomic<bool> m_stop{false};
};
