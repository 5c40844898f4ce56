#pragma once

#include "FrameRecord.h"
#include "LockedList.h"
#include "SyncQueue.h"

#include <QObject>
#include <QString>

#include <atomic>

// What the registry needs of a capture worker: it is created with its position, handed
// the position's five queues, moved to a thread whose start runs process(), and stopped
// by requestStop(), after which process() returns within about 200 ms.
class CaptureWorker : public QObject
{
    Q_OBJECT
public:
    CaptureWorker(bool stop, int index, QObject *parent = nullptr);

    void setQueues(SyncQueue<FrameRecord> *imageQueue, LockedList<bool> *resultList,
                   LockedList<bool> *resultWaitList, LockedList<bool> *shootedList,
                   SyncQueue<cv::Mat> *debugQueue);

    int index() const { return m_index; }
    // Written by the GUI thread (or a device-failure callback), read by the grab loop.
    void requestStop() { m_stop = true; }
    bool stopRequested() const { return m_stop; }

signals:
    void error(QString message);
    void finished();
    void requestReady();
    void updateStatistics(QString text, int index);

public slots:
    virtual void process() = 0;

protected:
    std::atomic<bool> m_stop;
    const int m_index;
    SyncQueue<FrameRecord> *m_imageQueue = nullptr;
    LockedList<bool> *m_resultList = nullptr;
    LockedList<bool> *m_resultWaitList = nullptr;
    LockedList<bool> *m_shootedList = nullptr;
    SyncQueue<cv::Mat> *m_debugQueue = nullptr;
};
