#include "CaptureWorker.h"

CaptureWorker::CaptureWorker(bool stop, int index, QObject *parent)
    : QObject(parent)
    , m_stop(stop)
    , m_index(index)
{
}

void CaptureWorker::setQueues(SyncQueue<FrameRecord> *imageQueue, LockedList<bool> *resultList,
                              LockedList<bool> *resultWaitList, LockedList<bool> *shootedList,
                              SyncQueue<cv::Mat> *debugQueue)
{
    m_imageQueue = imageQueue;
    m_resultList = resultList;
    m_resultWaitList = resultWaitList;
    m_shootedList = shootedList;
    m_debugQueue = debugQueue;
}
