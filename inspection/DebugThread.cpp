#include "DebugThread.h"

#include "Rotation.h"

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

DebugThread::DebugThread(QObject *parent)
    : QThread(parent)
{
}

DebugThread::~DebugThread()
{
    m_stop = true;
    if (isRunning() && m_queue)
        m_queue->put(cv::Mat());
    quit();
    wait();
}

void DebugThread::init(int cam, SyncQueue<cv::Mat> *debugQueue)
{
    m_cam = cam;
    m_queue = debugQueue;
    m_stop = false;
}

void DebugThread::run()
{
    // Ends at the stop marker taken with the stop flag set, after the frames before it.
    if (!m_queue)
        return;
    for (;;) {
        cv::Mat image;
        m_queue->take(image);
        if (!image.empty()) {
            if (image.channels() == 3)
                cv::cvtColor(image, image, cv::COLOR_BGR2RGB);
            else if (image.channels() == 1)
                cv::cvtColor(image, image, cv::COLOR_GRAY2BGR);
            if (g_rotate_enable[m_cam] && g_rotate[m_cam] != Rotation::kNone)
                cv::rotate(image, image, g_rotate[m_cam]);
            emit notify(m_cam, 0, image);
        } else if (m_stop) {
            return;
        }
    }
}
