#pragma once

#include "FrameRecord.h"
#include "LockedList.h"
#include "ProductAccount.h"
#include "SyncQueue.h"
#include "Verdict.h"

#include <QObject>
#include <QString>

#include <atomic>

// What the registry needs of a capture worker: it is created with its position, handed
// the position's five queues, moved to a thread whose start runs process(), and stopped
// by requestStop(), after which process() returns within about 200 ms.
//
// The product bookkeeping is the same for every vendor and lives here: a camera callback
// calls productWindowClosed() at the falling edge of the product window and
// productAtEjector() at the rising edge. Both run on the SDK's callback thread and never
// wait for anything but a list's mutex, so that a slow inspection cannot delay an edge.
class CaptureWorker : public QObject
{
    Q_OBJECT
public:
    // What the rising edge asks of the camera's outputs.
    enum class Ejection { None, Good, Bad };

    CaptureWorker(bool stop, int index, QObject *parent = nullptr);

    void setQueues(SyncQueue<FrameRecord> *imageQueue, LockedList<Verdict> *resultList,
                   LockedList<uint64_t> *resultWaitList, LockedList<uint64_t> *shootedList,
                   SyncQueue<cv::Mat> *debugQueue);

    int index() const { return m_index; }
    // Written by the GUI thread (or a device-failure callback), read by the grab loop.
    void requestStop() { m_stop = true; }
    bool stopRequested() const { return m_stop; }

    // False when the camera refused its reject output at set-up: a bad product then gets
    // no pulse (productAtEjector says None) and is not recorded as rejected.
    void setCanEject(bool canEject) { m_canEject = canEject; }

    // Drops the frames grabbed since the last falling edge (work is about to start).
    void clearPending() { m_pendingFrames.clear(); }

    // Boxes went past the camera unseen before this worker started (the camera was lost or
    // closed while the line ran): the next rising edges that find no numbered product,
    // at most this many and only until a numbered one arrives, have one of those boxes at
    // the ejector, and MISMATCHACT decides for it. Set before the worker's thread starts.
    void setUnknownBoxesAhead(int boxes) { m_unknownAhead = boxes; }

    // Falling edge: the pending frames, earliest on top, become one numbered product for
    // the image queue, and its number waits for the next rising edge. A window without
    // frames still gets its number, so that it is handled like any product that could not
    // be judged. Nothing happens in debug mode, where frames go to the debug queue.
    void productWindowClosed();
    // Rising edge: the product shot two windows ago stands at the ejector. Its own verdict
    // when it has come; otherwise MISMATCHACT decides (1 Bad, 0 Good, else None), and its
    // verdict is discarded when it comes. Then the product of the window that just closed
    // moves up to wait for its verdict.
    Ejection productAtEjector();

signals:
    void error(QString message);
    // The camera is gone (unplugged, or its grab loop ended on a device error): this
    // worker takes no more pictures. Emitted once, from whichever thread found it.
    void deviceLost(int index);
    // The first of a run of product windows that closed without a frame; said once per
    // run, from the SDK's callback thread.
    void windowsWithoutFrames(int index, qulonglong firstProduct);
    void finished();
    void requestReady();
    void updateStatistics(QString text, int index);

public slots:
    virtual void process() = 0;

protected:
    // A grabbed frame: kept for the product, or shown in debug mode.
    void frameGrabbed(const cv::Mat &frame);
    // The device is gone: said once (deviceLost) and the grab loop asked to end.
    void lostDevice();
    // What MISMATCHACT asks for a box that has no verdict.
    static Ejection withoutVerdict();

    std::atomic<bool> m_stop;
    std::atomic<bool> m_lost{false};
    std::atomic<bool> m_canEject{true};
    const int m_index;
    LockedList<cv::Mat> m_pendingFrames{"pending"};
    SyncQueue<FrameRecord> *m_imageQueue = nullptr;
    LockedList<Verdict> *m_resultList = nullptr;
    LockedList<uint64_t> *m_resultWaitList = nullptr;
    LockedList<uint64_t> *m_shootedList = nullptr;
    SyncQueue<cv::Mat> *m_debugQueue = nullptr;
    ProductAccount *m_account;
    bool m_emptyRun = false; // the SDK's callback thread only
    int m_unknownAhead = 0;  // the SDK's callback thread only, once started
};
