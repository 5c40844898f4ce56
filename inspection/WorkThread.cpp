#include "WorkThread.h"

#include "GlueDotDetector.h"
#include "ImageStore.h"
#include "ProductAccount.h"
#include "Rotation.h"
#include "StationQueues.h"
#include "SysConf.h"

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <QDebug>

#ifdef __linux__
#include <sys/resource.h>
#include <unistd.h>
#endif

WorkThread::WorkThread(QObject *parent)
    : QThread(parent)
{
}

WorkThread::~WorkThread()
{
    m_stop = true;
    if (isRunning() && m_imageQueue)
        m_imageQueue->put(FrameRecord{});
    quit();
    wait();
}

void WorkThread::init(SyncQueue<FrameRecord> *imageQueue, int vendor, int cam)
{
    m_imageQueue = imageQueue;
    m_vendor = vendor;
    m_cam = cam;
    m_stop = false;
    m_total = 0;
}

void WorkThread::setDetector(DetectOne one, DetectBatch batch)
{
    m_detectOne = std::move(one);
    m_detectBatch = std::move(batch);
}

void WorkThread::setSaveQueue(SyncQueue<SaveRequest> *saveQueue)
{
    m_saveQueue = saveQueue;
}

void WorkThread::setVerdictList(LockedList<Verdict> *verdicts)
{
    m_verdicts = verdicts;
}

void WorkThread::setReporter(Reporter reporter)
{
    m_reporter = std::move(reporter);
}

void WorkThread::report(uint64_t product, ProductReport::Verdict verdict, std::vector<int> dots, int ms,
                        const char *why)
{
    if (!m_reporter)
        return;
    ProductReport r;
    r.camera = m_cam;
    r.product = product;
    r.dots = std::move(dots);
    r.verdict = verdict;
    r.inspected = why == nullptr;
    if (why)
        r.why = why;
    r.inspectMs = ms;
    r.time = QDateTime::currentDateTime();
    m_reporter(r);
}

void WorkThread::judged(uint64_t product, bool good)
{
    if (m_verdicts)
        m_verdicts->push(Verdict{product, good});
    if (m_cam >= 0 && m_cam < 4)
        g_product_account[m_cam].noteJudged(product);
    if (good)
        emit event_ok(m_cam, product);
    else
        emit event_ng(m_cam, product);
}

WorkThread::Settings WorkThread::copySettings() const
{
    Settings s;
    QMutexLocker locker(&g_sys_conf.lock);
    s.save = g_sys_conf.SAVE;
    s.mismatchAct = g_sys_conf.MISMATCHACT;
    for (int i = 0; i < 3; ++i)
        s.expected[i] = g_sys_conf.NO[m_cam][i];
    s.shoot = g_sys_conf.SHOOT[m_cam];
    return s;
}

void WorkThread::run()
{
    // Runs until it takes the stop marker with the stop flag set, so that the frames
    // queued before the marker are judged even when the stop comes early.
    if (!m_imageQueue)
        return;
    if (!m_saveQueue)
        m_saveQueue = g_save_queue;
    if (!m_verdicts && m_cam >= 0 && m_cam < 4)
        m_verdicts = g_result_list[m_cam];
    if (!m_detectOne || !m_detectBatch) {
        GlueDotDetector *detector = &g_detector[m_cam];
        m_detectOne = [detector](const cv::Mat &image, cv::Mat &drawn, std::vector<Detection> &d) {
            return detector->detectOne(image, drawn, d);
        };
        m_detectBatch = [detector](const std::vector<cv::Mat> &images, std::vector<cv::Mat> &drawn,
                                   std::vector<std::vector<Detection>> &results) {
            detector->detectBatch(images, drawn, results);
        };
    }

#ifdef __linux__
    // Thread priorities mean nothing to Linux's normal scheduler; a higher nice value does.
    // Inspection then yields to the threads that keep time: the capture side, the camera
    // events and the window, which hands the verdicts on.
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kInspectionNice);
#endif
    unsigned showCounter = 0;
    for (;;) {
        const Settings settings = copySettings();
        FrameRecord record;
        m_imageQueue->take(record);
        const QDateTime now = QDateTime::currentDateTime();

        if (settings.save == 2 && showCounter % 10 == 0 && !record.image.empty())
            save(record.image, ImageStore::wholeFramePath(now, m_cam));

        if (!record.image.empty())
            inspect(settings, record, now, showCounter);
        else if (m_stop && record.shots == 0) // the destructor's marker, not an empty frame
            return;
    }
}

void WorkThread::judgeUninspected(const Settings &s, const FrameRecord &record, const char *why)
{
    if (s.mismatchAct == 1)
        judged(record.product, false);
    else if (s.mismatchAct == 0)
        judged(record.product, true);
    report(record.product,
           s.mismatchAct == 1   ? ProductReport::Verdict::Bad
           : s.mismatchAct == 0 ? ProductReport::Verdict::Good
                                : ProductReport::Verdict::None,
           {}, 0, why);
    ++m_total;
    emit display_check_total(m_cam, m_total);
    qDebug().noquote() << "camera" << m_cam << why << record.shots;
}

void WorkThread::inspect(const Settings &s, const FrameRecord &record, const QDateTime &now,
                         unsigned &showCounter)
{
    // A product that reached the ejector while waiting here was decided there without its
    // verdict (MISMATCHACT): inspecting it would only make the ones behind it late too.
    if (record.product != 0 && g_product_account[m_cam].outcome(record.product).known) {
        judgeUninspected(s, record, "passed the ejector before its inspection, image count");
        return;
    }
    const cv::Mat &img = record.image;
    const int n = record.shots;
    if (n != s.shoot) {
        g_product_account[m_cam].countMiscounted();
        g_product_account[m_cam].markCutWrongly(record.product);
        judgeUninspected(s, record, "frame with image count");
        return;
    }
    // Fewer rows than images: nothing to cut. Judged like a frame of the wrong count
    // rather than handing empty images to the network.
    if (n < 1 || img.rows / n < 1) {
        judgeUninspected(s, record, "frame too small to cut, image count");
        return;
    }
    const int h = img.rows / n;
    const bool rotate = g_rotate_enable[m_cam] && g_rotate[m_cam] != Rotation::kNone;
    const int code = g_rotate[m_cam];
    std::vector<cv::Mat> parts(n);
    // The parts stay as the camera gave them (the detector takes grey images as they are
    // and draws on a colour copy); only a rotation copies them here.
    for (int i = 0; i < n; ++i) {
        parts[i] = img(cv::Rect(0, i * h, img.cols, h));
        if (rotate)
            cv::rotate(parts[i], parts[i], code);
    }

    std::vector<cv::Mat> drawn;
    std::vector<std::vector<Detection>> results;
    const QDateTime t0 = QDateTime::currentDateTime();
    try {
        if (n == 1) {
            cv::Mat d;
            std::vector<Detection> r;
            m_detectOne(parts[0], d, r);
            drawn.push_back(d);
            results.push_back(r);
        } else {
            m_detectBatch(parts, drawn, results);
        }
    } catch (const cv::Exception &e) {
        // A failing network must not end the position's inspection for good.
        judgeUninspected(s, record, (std::string("detection failed (") + e.what() + "), image count").c_str());
        return;
    }
    const QDateTime t1 = QDateTime::currentDateTime();
    emit display_timecost(m_cam, static_cast<int>(t0.msecsTo(t1)));
    if (static_cast<int>(results.size()) < n || static_cast<int>(drawn.size()) < n) {
        judgeUninspected(s, record, "detector returned too few results, image count");
        return;
    }

    QStringList counts;
    std::vector<int> dots(n);
    bool ng = false;
    for (int i = 0; i < n; ++i) {
        const int count = static_cast<int>(results[i].size());
        dots[i] = count;
        counts << QString::number(count);
        if (count < s.expected[i])
            ng = true;
    }
    emit display_jd_no(m_cam, counts.join(QLatin1Char(',')));

    if (ng) {
        judged(record.product, false);
        if (s.save == 1 || s.save == 2) {
            for (int i = 0; i < n; ++i) {
                if (static_cast<int>(results[i].size()) >= s.expected[i])
                    continue;
                // Saved in three channels, as the NG folders have always held them.
                cv::Mat original = parts[i];
                if (original.channels() == 1)
                    cv::cvtColor(original, original, cv::COLOR_GRAY2BGR);
                save(original, ImageStore::ngPath(now, m_cam, i));
                save(drawn[i], ImageStore::ngResultPath(now, m_cam, i));
            }
        }
    } else {
        judged(record.product, true);
    }
    report(record.product, ng ? ProductReport::Verdict::Bad : ProductReport::Verdict::Good, std::move(dots),
           static_cast<int>(t0.msecsTo(t1)), nullptr);

    ++m_total;
    emit display_check_total(m_cam, m_total);

    // The drawn images are this frame's own and are dropped right after: handing them
    // over is as good as a copy, and spares one per view.
    if (n == 1) {
        emit notify(m_cam, 0, drawn[0]);
    } else {
        emit notify(m_cam, 0, drawn[showCounter % 2]);
        ++showCounter;
    }
    if (n >= 3)
        emit notify(m_cam, 1, drawn[2]);
}

void WorkThread::save(const cv::Mat &image, const QString &path)
{
    if (!m_saveQueue || image.empty())
        return;
    // A full queue means the disk is behind: the image is dropped (the queue counts it and
    // the saving thread says so) rather than holding up this product's verdict or the next.
    m_saveQueue->tryPut(SaveRequest{path.toStdString(), image.clone()});
}
