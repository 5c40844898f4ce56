#include "GlueDotDetector.h"
#include "ImageStore.h"
#include "MatMetaType.h"
#include "Rotation.h"
#include "StationPaths.h"
#include "SysConf.h"
#include "ProductAccount.h"
#include "WorkThread.h"

#include <QtTest>

#include <opencv2/imgproc.hpp>

#include <condition_variable>
#include <mutex>
#include <thread>

// The inspection worker's judgement, signals and save requests, with a stand-in detector
// that finds as many dots in an image as the image's grey value says: each test frame is
// made of uniform bands, one per image.
class tst_WorkThread : public QObject
{
    Q_OBJECT

private:
    // Records every signal of a worker in arrival order, as the window would see them.
    struct Recorder : QObject
    {
        QStringList events;
        std::vector<cv::Mat> shown;
        void attach(WorkThread &w)
        {
            connect(&w, &WorkThread::display_timecost, this,
                    [this](int c, int) { events << QString("timecost(%1)").arg(c); });
            connect(&w, &WorkThread::display_jd_no, this,
                    [this](int c, const QString &t) { events << QString("jd_no(%1,%2)").arg(c).arg(t); });
            connect(&w, &WorkThread::event_ok, this, [this](int c) { events << QString("ok(%1)").arg(c); });
            connect(&w, &WorkThread::event_ng, this, [this](int c) { events << QString("ng(%1)").arg(c); });
            connect(&w, &WorkThread::display_check_total, this,
                    [this](int c, long t) { events << QString("total(%1,%2)").arg(c).arg(t); });
            connect(&w, &WorkThread::notify, this, [this](int c, int win, const cv::Mat &m) {
                events << QString("notify(%1,%2)").arg(c).arg(win);
                shown.push_back(m);
            });
        }
    };

    // Collects save requests on a thread of its own, as the saving thread would; a stalled
    // sink takes nothing until it is resumed, as a disk that does not keep up.
    struct SaveSink
    {
        explicit SaveSink(bool stalled = false)
            : stalled(stalled)
        {
        }
        SyncQueue<SaveRequest> queue{"save queue"};
        std::mutex mutex;
        std::condition_variable resumed;
        bool stalled;
        std::vector<SaveRequest> requests;
        std::thread thread{[this] {
            {
                std::unique_lock<std::mutex> lock(mutex);
                resumed.wait(lock, [this] { return !stalled; });
            }
            for (;;) {
                SaveRequest r;
                queue.take(r);
                if (r.image.empty())
                    return;
                std::lock_guard<std::mutex> lock(mutex);
                requests.push_back(r);
            }
        }};
        ~SaveSink()
        {
            resume();
            queue.put(SaveRequest{});
            thread.join();
        }
        void resume()
        {
            std::lock_guard<std::mutex> lock(mutex);
            stalled = false;
            resumed.notify_all();
        }
        std::vector<SaveRequest> taken()
        {
            std::lock_guard<std::mutex> lock(mutex);
            return requests;
        }
    };

    struct Rig
    {
        explicit Rig(int cam = 1, bool saveStalled = false)
            : sink(saveStalled)
            , imageQueue("image_1")
        {
            worker.init(&imageQueue, 3, cam);
            worker.setSaveQueue(&sink.queue);
            worker.setVerdictList(&verdicts);
            // On the worker's thread: how many verdicts the list held as each was said.
            for (auto signal : {&WorkThread::event_ok, &WorkThread::event_ng})
                QObject::connect(&worker, signal, &worker, [this] { listedWhenSaid.push_back(verdicts.size()); },
                                 Qt::DirectConnection);
            worker.setDetector(
                [this](const cv::Mat &image, cv::Mat &drawn, std::vector<Detection> &d) {
                    seen(image);
                    drawn = 255 - image; // tells drawn images from raw ones
                    d.resize(d.size() + image.at<cv::Vec3b>(0, 0)[0]);
                    return int(d.size());
                },
                [this](const std::vector<cv::Mat> &images, std::vector<cv::Mat> &drawn,
                       std::vector<std::vector<Detection>> &results) {
                    ++batches;
                    for (const cv::Mat &image : images) {
                        seen(image);
                        drawn.push_back(255 - image);
                        results.emplace_back(image.at<cv::Vec3b>(0, 0)[0]);
                    }
                });
            recorder.attach(worker);
        }
        ~Rig()
        {
            // The destructor of the worker stops it; the sink outlives it.
        }
        void seen(const cv::Mat &image)
        {
            std::lock_guard<std::mutex> lock(sizesMutex);
            sizes.push_back(image.size());
            channels.push_back(image.channels());
        }
        void put(const std::vector<int> &counts, int shots = -1, int width = 40, int height = 30,
                 uint64_t product = 0)
        {
            cv::Mat frame(height * int(counts.size()), width, CV_8UC1);
            for (size_t i = 0; i < counts.size(); ++i)
                frame.rowRange(int(i) * height, int(i + 1) * height).setTo(counts[i]);
            imageQueue.put(FrameRecord{shots < 0 ? int(counts.size()) : shots, frame, product});
        }
        bool waitEvents(int count)
        {
            QElapsedTimer t;
            t.start();
            while (recorder.events.size() < count && t.elapsed() < 10000)
                QTest::qWait(5);
            return recorder.events.size() >= count;
        }

        SaveSink sink;
        LockedList<Verdict> verdicts{"result_1"};
        std::vector<int> listedWhenSaid; // written by the worker, read after it stopped
        SyncQueue<FrameRecord> imageQueue;
        WorkThread worker;
        Recorder recorder;
        std::mutex sizesMutex;
        std::vector<cv::Size> sizes;
        std::vector<int> channels;
        int batches = 0;
    };

    static void setRecipe(int cam, int a, int b, int c, int shoot = 3, int save = 0,
                          int mismatchAct = 1)
    {
        QMutexLocker locker(&g_sys_conf.lock);
        g_sys_conf.NO[cam][0] = a;
        g_sys_conf.NO[cam][1] = b;
        g_sys_conf.NO[cam][2] = c;
        g_sys_conf.SHOOT[cam] = shoot;
        g_sys_conf.SAVE = save;
        g_sys_conf.MISMATCHACT = mismatchAct;
    }

private slots:
    void initTestCase() { qRegisterMetaType<cv::Mat>("cv::Mat"); }

    void init()
    {
        for (int k = 0; k < 4; ++k) {
            g_rotate[k] = Rotation::kNone;
            g_rotate_enable[k] = false;
        }
    }

    void shortImageIsNgAndSavedOnlyForThatImage()
    {
        setRecipe(1, 12, 12, 12, 3, 1);
        Rig rig;
        rig.worker.start();
        rig.put({12, 12, 11});
        QVERIFY(rig.waitEvents(6));
        QCOMPARE(rig.recorder.events, (QStringList{"timecost(1)", "jd_no(1,12,12,11)", "ng(1)",
                                                   "total(1,1)", "notify(1,0)", "notify(1,1)"}));
        QCOMPARE(rig.batches, 1);
        QTRY_COMPARE(int(rig.sink.taken().size()), 2);
        const auto saved = rig.sink.taken();
        const QString ng = QString::fromStdString(saved[0].path);
        const QString result = QString::fromStdString(saved[1].path);
        const QString day = QFileInfo(ng).fileName().left(10); // filed under the day it was taken
        QVERIFY2(ng.startsWith(StationPaths::imageRoot() + day + "/2/ng/2/"), qPrintable(ng));
        QVERIFY(ng.endsWith("__2.jpg"));
        QVERIFY2(result.startsWith(StationPaths::imageRoot() + day + "/2/ng_result/2/"), qPrintable(result));
        QCOMPARE(QFileInfo(ng).fileName(), QFileInfo(result).fileName());
        QVERIFY(QRegularExpression("^\\d{4}-\\d\\d-\\d\\d_\\d\\d-\\d\\d-\\d\\d_\\d{3}__2\\.jpg$")
                    .match(QFileInfo(ng).fileName()).hasMatch());
        // The raw cut-out first, then the drawn one.
        QCOMPARE(int(saved[0].image.at<cv::Vec3b>(0, 0)[0]), 11);
        QCOMPARE(int(saved[1].image.at<cv::Vec3b>(0, 0)[0]), 255 - 11);
        QCOMPARE(saved[0].image.size(), cv::Size(40, 30));
    }

    void moreDotsAreFineAndZeroNeverFails()
    {
        setRecipe(1, 12, 0, 12, 3, 2);
        Rig rig;
        rig.worker.start();
        rig.put({13, 0, 12});
        QVERIFY(rig.waitEvents(6));
        QCOMPARE(rig.recorder.events.mid(1, 3), (QStringList{"jd_no(1,13,0,12)", "ok(1)", "total(1,1)"}));
        // SAVE 2 samples the first whole frame, nothing else.
        QTRY_COMPARE(int(rig.sink.taken().size()), 1);
        const SaveRequest all = rig.sink.taken()[0];
        QVERIFY(QString::fromStdString(all.path).contains("/2/ALL/"));
        QCOMPARE(all.image.size(), cv::Size(40, 90));
        QCOMPARE(all.image.channels(), 1); // as received, before any conversion
    }

    void sampledWholeFramesOnThreeImageCamera()
    {
        setRecipe(1, 0, 0, 0, 3, 2);
        Rig rig;
        rig.worker.start();
        for (int i = 0; i < 21; ++i)
            rig.put({1, 1, 1});
        QVERIFY(rig.waitEvents(21 * 6));
        QTest::qWait(50);
        // The counter moves once per judged frame: frames 1, 11 and 21 are sampled.
        QCOMPARE(int(rig.sink.taken().size()), 3);
    }

    void everyFrameSampledOnOneImageCamera()
    {
        setRecipe(1, 2, 0, 0, 1, 2);
        Rig rig;
        rig.worker.start();
        for (int i = 0; i < 5; ++i)
            rig.put({2});
        QVERIFY(rig.waitEvents(5 * 5));
        QCOMPARE(rig.recorder.events.mid(0, 5),
                 (QStringList{"timecost(1)", "jd_no(1,2)", "ok(1)", "total(1,1)", "notify(1,0)"}));
        QTRY_COMPARE(int(rig.sink.taken().size()), 5);
        QCOMPARE(rig.batches, 0); // one image: detectOne
    }

    void saveNoneNeverQueues()
    {
        setRecipe(1, 5, 5, 5, 3, 0);
        Rig rig;
        rig.worker.start();
        rig.put({1, 1, 1});
        rig.put({9, 9, 9}, 2); // mismatched
        QVERIFY(rig.waitEvents(6 + 2));
        QTest::qWait(50);
        QVERIFY(rig.sink.taken().empty());
    }

    // A disk that does not keep up never holds a verdict: with the save queue full, the
    // sampled whole frame and the NG images are dropped and counted.
    void fullSaveQueueDropsImagesNotVerdicts_data()
    {
        QTest::addColumn<int>("save");
        QTest::addColumn<int>("dropped");
        QTest::newRow("SAVE 1: the NG image and its drawing") << 1 << 2;
        QTest::newRow("SAVE 2: and the whole frame") << 2 << 3;
    }

    void fullSaveQueueDropsImagesNotVerdicts()
    {
        QFETCH(int, save);
        QFETCH(int, dropped);
        setRecipe(1, 5, 5, 5, 3, save);
        Rig rig(1, true);
        for (int i = 0; i < SyncQueue<SaveRequest>::kCapacity; ++i)
            rig.sink.queue.put(SaveRequest{"queued.jpg", cv::Mat(1, 1, CV_8UC1)});
        rig.worker.start();
        rig.put({5, 4, 5});
        rig.put({5, 5, 5});
        const bool judgedWhileStalled = rig.waitEvents(12);
        rig.sink.resume(); // a worker that waits for the disk ends its frames before the rig goes
        QVERIFY(rig.waitEvents(12));
        QVERIFY(judgedWhileStalled);
        QCOMPARE(rig.recorder.events.filter(QRegularExpression("^(ok|ng)")), (QStringList{"ng(1)", "ok(1)"}));
        QCOMPARE(rig.verdicts.size(), 2);
        QCOMPARE(rig.sink.queue.refused(), (unsigned long long)dropped);
    }

    void mismatchedFrames_data()
    {
        QTest::addColumn<int>("mismatchAct");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<QString>("listed"); // the verdict list afterwards: g, b or nothing
        QTest::addColumn<bool>("passedEjector"); // else: two images where three are expected
        QTest::newRow("NG") << 1 << QStringList{"ng(1)", "total(1,1)"} << "b" << false;
        QTest::newRow("OK") << 0 << QStringList{"ok(1)", "total(1,1)"} << "g" << false;
        QTest::newRow("no verdict") << 2 << QStringList{"total(1,1)"} << "" << false;
        // Inspection behind the line: a product decided at the ejector without its verdict
        // is not inspected any more, so that the ones after it catch up.
        QTest::newRow("past the ejector, NG") << 1 << QStringList{"ng(1)", "total(1,1)"} << "b" << true;
        QTest::newRow("past the ejector, no verdict") << 2 << QStringList{"total(1,1)"} << "" << true;
    }

    void mismatchedFrames()
    {
        QFETCH(int, mismatchAct);
        QFETCH(QStringList, expected);
        QFETCH(QString, listed);
        QFETCH(bool, passedEjector);
        setRecipe(1, 1, 1, 1, 3, 1, mismatchAct);
        Rig rig;
        rig.worker.start();
        if (passedEjector) {
            const uint64_t product = g_product_account[1].newProduct();
            g_product_account[1].recordOutcome(product, ProductAccount::Outcome{});
            rig.put({1, 1, 1}, -1, 40, 30, product);
        } else {
            rig.put({0, 0});
        }
        rig.put({1, 1, 1}); // then a good product
        expected << "jd_no(1,1,1,1)" << "ok(1)" << "total(1,2)";
        listed += "g";
        QVERIFY(rig.waitEvents(expected.size() + 2));
        QTest::qWait(50);
        QStringList events = rig.recorder.events.filter(QRegularExpression("^(ok|ng|total|jd_no)"));
        QCOMPARE(events, expected);
        // Each verdict is in the capture worker's list before anyone hears of it.
        QString inList;
        for (Verdict v; rig.verdicts.pop(v);)
            inList += v.good ? "g" : "b";
        QCOMPARE(inList, listed);
        std::vector<int> counts;
        for (int k = 1; k <= listed.size(); ++k)
            counts.push_back(k);
        QCOMPARE(rig.listedWhenSaid, counts);
        QCOMPARE(int(rig.sizes.size()), 3); // the good product's images alone were detected
        QVERIFY(rig.sink.taken().empty());
    }

    void rotation_data()
    {
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("width");
        QTest::newRow("90 clockwise") << true << 0 << 30;
        QTest::newRow("180") << true << 1 << 40;
        QTest::newRow("90 counter-clockwise") << true << 2 << 30;
        QTest::newRow("none") << true << 3 << 40;
        QTest::newRow("code set but disabled") << false << 0 << 40;
    }

    void rotation()
    {
        QFETCH(bool, enabled);
        QFETCH(int, code);
        QFETCH(int, width);
        g_rotate[1] = code;
        g_rotate_enable[1] = enabled;
        setRecipe(1, 0, 0, 0, 2);
        Rig rig;
        rig.worker.start();
        rig.put({3, 4}, 2, 40, 30);
        QVERIFY(rig.waitEvents(5));
        QCOMPARE(int(rig.sizes.size()), 2);
        QCOMPARE(rig.sizes[0].width, width);
        QCOMPARE(rig.channels[0], 1); // grey frames reach the detector grey: it draws on a colour copy
        QCOMPARE(rig.recorder.events.at(1), QString("jd_no(1,3,4)"));
    }

    void leftoverRowsAreIgnoredAndTinyFramesAreNotCut()
    {
        setRecipe(1, 0, 0, 0, 3, 0, 1);
        Rig rig;
        rig.worker.start();
        cv::Mat frame(31, 10, CV_8UC1, cv::Scalar(2));
        rig.imageQueue.put(FrameRecord{3, frame});
        QVERIFY(rig.waitEvents(6));
        QCOMPARE(rig.sizes.at(0), cv::Size(10, 10));
        // Two rows for three images: judged without detection, by MISMATCHACT.
        rig.imageQueue.put(FrameRecord{3, cv::Mat(2, 10, CV_8UC1, cv::Scalar(1))});
        QVERIFY(rig.waitEvents(8));
        QCOMPARE(rig.recorder.events.mid(6), (QStringList{"ng(1)", "total(1,2)"}));
        QCOMPARE(int(rig.sizes.size()), 3);
    }

    void displayAlternatesBetweenFirstAndSecondImage()
    {
        setRecipe(1, 0, 0, 0, 2);
        Rig rig;
        rig.worker.start();
        rig.put({10, 20});
        rig.put({10, 20});
        rig.put({10, 20});
        QVERIFY(rig.waitEvents(15));
        QCOMPARE(int(rig.recorder.shown.size()), 3);
        QCOMPARE(int(rig.recorder.shown[0].at<cv::Vec3b>(0, 0)[0]), 255 - 10);
        QCOMPARE(int(rig.recorder.shown[1].at<cv::Vec3b>(0, 0)[0]), 255 - 20);
        QCOMPARE(int(rig.recorder.shown[2].at<cv::Vec3b>(0, 0)[0]), 255 - 10);
        QVERIFY(!rig.recorder.events.contains("notify(1,1)")); // two images: no second view
    }

    void stopMarkerBehindQueuedFramesJudgesThemFirst()
    {
        setRecipe(1, 0, 0, 0, 3);
        SaveSink sink;
        SyncQueue<FrameRecord> queue("image_1");
        std::atomic<int> totals{0};
        long lastTotal = 0;
        {
            WorkThread worker;
            worker.init(&queue, 3, 1);
            worker.setSaveQueue(&sink.queue);
            worker.setDetector([](const cv::Mat &, cv::Mat &d, std::vector<Detection> &) { d = cv::Mat(1, 1, CV_8UC3); return 0; },
                               [](const std::vector<cv::Mat> &in, std::vector<cv::Mat> &d,
                                  std::vector<std::vector<Detection>> &r) {
                                   for (size_t i = 0; i < in.size(); ++i) {
                                       d.push_back(in[i]);
                                       r.emplace_back();
                                   }
                               });
            connect(&worker, &WorkThread::display_check_total, &worker,
                    [&](int, long t) { ++totals; lastTotal = t; }, Qt::DirectConnection);
            queue.put(FrameRecord{3, cv::Mat()}); // empty: no signal, no count
            for (int i = 0; i < 3; ++i)
                queue.put(FrameRecord{3, cv::Mat(30, 10, CV_8UC1, cv::Scalar(0))});
            worker.start();
        } // destructor: stop marker behind the queued frames, then join
        QCOMPARE(totals.load(), 3);
        QCOMPARE(lastTotal, 3L);
    }

    void detectorFailureDoesNotEndTheWorker()
    {
        setRecipe(1, 0, 0, 0, 3, 0, 1);
        Rig rig;
        int calls = 0;
        rig.worker.setDetector(
            [](const cv::Mat &, cv::Mat &, std::vector<Detection> &) -> int { return 0; },
            [&calls](const std::vector<cv::Mat> &in, std::vector<cv::Mat> &d,
                     std::vector<std::vector<Detection>> &r) {
                if (calls++ == 0)
                    CV_Error(cv::Error::StsBadArg, "broken network");
                for (const cv::Mat &m : in) {
                    d.push_back(m);
                    r.emplace_back(1);
                }
            });
        rig.worker.start();
        rig.put({1, 1, 1});
        rig.put({1, 1, 1});
        QVERIFY(rig.waitEvents(2 + 6));
        QCOMPARE(rig.recorder.events.mid(0, 2), (QStringList{"ng(1)", "total(1,1)"}));
        QCOMPARE(rig.recorder.events.at(3), QString("jd_no(1,1,1,1)"));
    }
};

QTEST_MAIN(tst_WorkThread)
#include "tst_workthread.moc"
