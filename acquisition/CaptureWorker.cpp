#include "CaptureWorker.h"

#include "CapturePriority.h"
#include "DebugMode.h"
#include "FrameStacker.h"
#include "SysConf.h"

#include <utility>

CaptureWorker::CaptureWorker(bool stop, int index, QObject *parent)
    : QObject(parent)
    , m_stop(stop)
    , m_index(index)
    , m_account(&g_product_account[index >= 0 && index < 4 ? index : 0])
{
}

void CaptureWorker::setQueues(SyncQueue<FrameRecord> *imageQueue, LockedList<Verdict> *resultList,
                              LockedList<uint64_t> *resultWaitList, LockedList<uint64_t> *shootedList,
                              SyncQueue<cv::Mat> *debugQueue)
{
    m_imageQueue = imageQueue;
    m_resultList = resultList;
    m_resultWaitList = resultWaitList;
    m_shootedList = shootedList;
    m_debugQueue = debugQueue;
}

void CaptureWorker::frameGrabbed(const cv::Mat &frame)
{
    CapturePriority::raiseCurrentThread(); // the grab loop, or the SDK's image thread
    if (!g_debug_mode)
        m_pendingFrames.push(frame);
    else if (m_debugQueue)
        m_debugQueue->put(frame);
}

void CaptureWorker::lostDevice()
{
    m_stop = true;
    if (!m_lost.exchange(true))
        emit deviceLost(m_index);
}

void CaptureWorker::productWindowClosed()
{
    CapturePriority::raiseCurrentThread(); // the SDK's callback thread
    if (g_debug_mode) {
        m_pendingFrames.clear();
        return;
    }
    const uint64_t product = m_account->newProduct();
    FrameRecord record;
    record.product = product;
    if (!FrameStacker::stack(m_pendingFrames, record)) {
        m_account->countNoFrames();
        m_account->markCutWrongly(product);
        if (!std::exchange(m_emptyRun, true))
            emit windowsWithoutFrames(m_index, product);
        m_account->noteJudged(product); // nothing to inspect: inspection is not behind for it
    } else if (m_imageQueue && !m_imageQueue->tryPut(record)) {
        // Inspection is a whole queue behind: waiting here would delay the next edges and
        // with them every reject pulse.
        m_account->countNotQueued();
    }
    if (!record.image.empty())
        m_emptyRun = false;
    if (m_shootedList)
        m_shootedList->push(product);
}

CaptureWorker::Ejection CaptureWorker::productAtEjector()
{
    CapturePriority::raiseCurrentThread();
    Ejection ejection = Ejection::None;
    uint64_t product = 0;
    if (m_resultWaitList && m_resultWaitList->pop(product)) {
        Verdict verdict;
        bool judged = false;
        while (m_resultList && m_resultList->peek(verdict)) {
            if (verdict.product > product)
                break; // a later product's: it stays
            m_resultList->pop(verdict);
            if (verdict.product == product) {
                judged = true;
                break;
            }
            m_account->countLate(); // its product has passed already
        }
        ProductAccount::Outcome outcome;
        outcome.judged = judged;
        outcome.good = judged && verdict.good;
        if (judged) {
            ejection = verdict.good ? Ejection::Good : Ejection::Bad;
        } else {
            m_account->countUnjudged();
            ejection = withoutVerdict();
        }
        // A reject output the camera refused is not driven: it ejects nothing, and a
        // pulse could reach whichever line is selected instead.
        if (ejection == Ejection::Bad && !m_canEject)
            ejection = Ejection::None;
        outcome.rejected = ejection == Ejection::Bad;
        m_account->recordOutcome(product, outcome);
        m_unknownAhead = 0;
    } else if (m_unknownAhead > 0) {
        // A box that passed the camera while nothing saw it: no number, no verdict.
        --m_unknownAhead;
        m_account->countUnjudged();
        ejection = withoutVerdict();
        if (ejection == Ejection::Bad && !m_canEject)
            ejection = Ejection::None;
    }
    uint64_t shot = 0;
    if (m_shootedList && m_resultWaitList && m_shootedList->pop(shot))
        m_resultWaitList->push(shot);
    return ejection;
}

CaptureWorker::Ejection CaptureWorker::withoutVerdict()
{
    int mismatchAct;
    {
        QMutexLocker locker(&g_sys_conf.lock);
        mismatchAct = g_sys_conf.MISMATCHACT;
    }
    return mismatchAct == 1 ? Ejection::Bad : mismatchAct == 0 ? Ejection::Good : Ejection::None;
}
