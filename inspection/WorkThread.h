#pragma once

#include "Detection.h"
#include "FrameRecord.h"
#include "LockedList.h"
#include "ProductReport.h"
#include "SaveRequest.h"
#include "SyncQueue.h"
#include "Verdict.h"

#include <QDateTime>
#include <QString>
#include <QThread>

#include <opencv2/core/mat.hpp>

#include <atomic>
#include <functional>
#include <vector>

class GlueDotDetector;

// The inspection loop of one camera position: takes each product's frame from the image
// queue, cuts it into its images, rotates them, counts the glue dots, judges the product
// against the recipe, hands the verdict straight to the position's verdict list (the
// capture worker's reject output reads it there) and reports by signals (queued to the
// GUI thread, which may be busy with the PLC: no verdict waits for it). NG images and the
// sampled whole frames go to the save queue, or are dropped when it is full: no verdict
// waits for the disk either. Stopped by its destructor, after the frames already queued.
class WorkThread : public QThread
{
    Q_OBJECT
public:
    using DetectOne = std::function<int(const cv::Mat &, cv::Mat &, std::vector<Detection> &)>;
    using DetectBatch = std::function<void(const std::vector<cv::Mat> &, std::vector<cv::Mat> &,
                                           std::vector<std::vector<Detection>> &)>;

    // How much further down the scheduler's order the inspection runs than the rest.
    static constexpr int kInspectionNice = 5;

    explicit WorkThread(QObject *parent = nullptr);
    ~WorkThread() override;

    // Before start(): the position's image queue, its camera vendor and its index. The
    // worker then uses g_detector[cam] and g_save_queue.
    void init(SyncQueue<FrameRecord> *imageQueue, int vendor, int cam);
    // For tests: another detector or save queue than the position's own.
    void setDetector(DetectOne one, DetectBatch batch);
    void setSaveQueue(SyncQueue<SaveRequest> *saveQueue);
    void setVerdictList(LockedList<Verdict> *verdicts);
    // Before start(): told of every product's outcome, on this thread, right after its
    // verdict. It must not wait for anything (it queues).
    using Reporter = std::function<void(const ProductReport &)>;
    void setReporter(Reporter reporter);

    int cam() const { return m_cam; }

signals:
    void notify(int cam, int window, cv::Mat image);
    void display_timecost(int cam, int ms);
    void display_check_total(int cam, long total);
    void display_jd_no(int cam, QString jd_no);
    // The verdict of the product numbered `product` (FrameRecord::product), for the screen;
    // it is in the verdict list already.
    void event_ok(int cam, qulonglong product);
    void event_ng(int cam, qulonglong product);

protected:
    void run() override;

private:
    struct Settings
    {
        int save = 0;
        int mismatchAct = 1;
        int expected[3] = {0, 0, 0};
        int shoot = 3;
    };

    Settings copySettings() const;
    // The verdict for a frame that can't be inspected (wrong image count): by MISMATCHACT.
    void judgeUninspected(const Settings &s, const FrameRecord &record, const char *why);
    void inspect(const Settings &s, const FrameRecord &record, const QDateTime &now,
                 unsigned &showCounter);
    void save(const cv::Mat &image, const QString &path);
    // Into the verdict list first, then said.
    void judged(uint64_t product, bool good);
    void report(uint64_t product, ProductReport::Verdict verdict, std::vector<int> dots, int ms,
                const char *why);

    int m_cam = 0;
    int m_vendor = 0;
    SyncQueue<FrameRecord> *m_imageQueue = nullptr;
    SyncQueue<SaveRequest> *m_saveQueue = nullptr;
    LockedList<Verdict> *m_verdicts = nullptr;
    std::atomic<bool> m_stop{false};
    int m_total = 0; // frames with image data judged since start
    DetectOne m_detectOne;
    DetectBatch m_detectBatch;
    Reporter m_reporter;
};
