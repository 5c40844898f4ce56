#include "TakeWithin.h"

#include "CameraRegistry.h"
#include "CaptureWorker.h"
#include "DebugMode.h"
#include "LineSimulator.h"
#include "PatternFrameSource.h"
#include "SimCamera.h"
#include "SimulatedStation.h"
#include "StationQueues.h"
#include "SysConf.h"

#include <QThread>
#include <QtTest>

// The HIK capture worker on a simulated camera and line: products stacked per window,
// verdicts turned into reject pulses two windows later, debug mode, device loss.
class tst_CaptureThreadHik : public QObject
{
    Q_OBJECT

private:
    struct Rig
    {
        Rig()
        {
            SimulatedStation::Settings s;
            s.source = "pattern";
            s.shots = 3;
            SimCamera::Config c;
            c.width = 32;
            c.height = 24;
            s.cameras = {c};
            station = std::make_unique<SimulatedStation>(s);
            station->install();
            SysConf conf;
            registry.EnumerateCameras(positions, false, conf);
            StationQueues::create();
        }
        ~Rig()
        {
            registry.closeAll();
            StationQueues::release();
        }
        // Opens position 0 and waits until its worker grabs (its events are switched on).
        bool open()
        {
            if (!registry.SetCameraOpen(0, true))
                return false;
            QElapsedTimer t;
            t.start();
            while (camera()->featureAt("EventNotification", "Line0RisingEdge") != "On"
                   || !camera()->isGrabbing()) {
                if (t.elapsed() > 5000)
                    return false;
                QThread::msleep(5);
            }
            return true;
        }
        SimCamera *camera() const { return station->camera(0); }
        LineSimulator &line() const { return station->line(); }
        std::unique_ptr<SimulatedStation> station;
        CameraSlot positions[4];
        CameraRegistry registry;
    };

    static bool takeRecord(FrameRecord &record, int timeoutMs = 5000)
    {
        return takeWithin(*g_image_queue[0], record, timeoutMs) && !record.image.empty();
    }

private slots:
    void productsAreStackedEarliestOnTop()
    {
        Rig rig;
        QVERIFY(rig.open());
        rig.line().beginProduct();
        rig.line().shoot();
        rig.line().shoot();
        rig.line().shoot();
        QThread::msleep(300); // the grab loop takes the frames out of the camera
        rig.line().endProduct();
        QVERIFY(rig.line().settle(5000));
        FrameRecord record;
        QVERIFY(takeRecord(record));
        QCOMPARE(record.shots, 3);
        QCOMPARE(record.image.rows, 3 * 24);
        QCOMPARE(record.image.cols, 32);
        for (int i = 0; i < 3; ++i) {
            const cv::Mat part = record.image.rowRange(i * 24, (i + 1) * 24);
            QCOMPARE(PatternFrameSource::shotNumberOf(part), i);
            QCOMPARE(int(PatternFrameSource::productNumberOf(part)), 0);
        }
        QCOMPARE(g_shooted_list[0]->size(), 1);
    }

    void windowWithoutFramesIsNumberedButNotInspected()
    {
        Rig rig;
        QVERIFY(rig.open());
        const uint64_t before = g_product_account[0].noFrames();
        const uint64_t last = g_product_account[0].lastProduct();
        rig.line().beginProduct();
        rig.line().endProduct();
        QVERIFY(rig.line().settle(5000));
        FrameRecord record;
        QVERIFY(!takeRecord(record, 300));
        uint64_t waiting = 0;
        QVERIFY(g_shooted_list[0]->peek(waiting));
        QCOMPARE(waiting, last + 1);
        QCOMPARE(g_product_account[0].noFrames(), before + 1);
    }

    void badVerdictFiresTwoWindowsLater()
    {
        Rig rig;
        QVERIFY(rig.open());
        // Products 0..5; the window hub would push the verdicts: 1 and 4 are bad.
        const std::vector<bool> verdicts{true, false, true, true, false, true};
        for (size_t j = 0; j < verdicts.size() + 2; ++j) {
            rig.line().beginProduct();
            QVERIFY(rig.line().settle(5000));
            if (j < verdicts.size()) {
                for (int s = 0; s < 3; ++s)
                    rig.line().shoot();
                QThread::msleep(250);
            }
            rig.line().endProduct();
            QVERIFY(rig.line().settle(5000));
            if (j < verdicts.size()) {
                FrameRecord record;
                QVERIFY(takeRecord(record));
                g_result_list[0]->push(Verdict{record.product, verdicts[j]}); // before the next window
            }
            const std::vector<std::string> pulses = rig.camera()->pulses();
            // Product j-2 stands at the ejector during window j.
            int expected = 0;
            for (size_t k = 0; k + 2 <= j && k < verdicts.size(); ++k)
                expected += !verdicts[k];
            QCOMPARE(int(pulses.size()), expected);
        }
        for (const std::string &p : rig.camera()->pulses())
            QCOMPARE(p, std::string("Line1"));
    }

    // Each product's plan, one letter per window: G / B a good / bad verdict before its
    // ejection, g / b the same verdict only after it (late), x no verdict ever (MISMATCHACT
    // 2 on a miscounted frame), - a window without frames. A verdict can only reach its own
    // product; a product without one in time gets MISMATCHACT's rule.
    void pairing_data()
    {
        QTest::addColumn<QString>("plan");
        QTest::addColumn<int>("mismatchAct");
        QTest::addColumn<QString>("ejected");
        QTest::newRow("on time") << "GBGGBG" << 1 << "010010";
        QTest::newRow("late, eject") << "GbGBgG" << 1 << "010110";
        QTest::newRow("late, pass") << "GbGBgG" << 0 << "000100";
        QTest::newRow("late, no output") << "BbGBgB" << 2 << "100101";
        QTest::newRow("no frames, eject") << "G-BG-G" << 1 << "011010";
        QTest::newRow("no frames, pass") << "B-BG-G" << 0 << "101000";
        QTest::newRow("never judged") << "GxBxG" << 1 << "01110";
    }

    void pairing()
    {
        QFETCH(QString, plan);
        QFETCH(int, mismatchAct);
        QFETCH(QString, ejected);
        Rig rig;
        QVERIFY(rig.open());
        g_sys_conf.MISMATCHACT = mismatchAct;
        g_product_account[0].clearCounts();
        rig.line().setKeepHistory(true);
        const int n = plan.size();
        const QString windows = plan + "GGG"; // until the last late verdict has come and gone
        std::vector<uint64_t> numbers(windows.size(), 0);
        for (int w = 0; w < windows.size(); ++w) {
            rig.line().beginProduct();
            QVERIFY(rig.line().settle(5000));
            // Late verdicts come after their product's ejection edge (window j + 2).
            for (int j = 0; j + 2 <= w && j < n; ++j)
                if (w == j + 2 && plan[j].isLower() && plan[j] != '-' && plan[j] != 'x')
                    g_result_list[0]->push(Verdict{numbers[j], plan[j] == 'g'});
            const bool shoots = windows[w] != '-';
            if (shoots) {
                for (int s = 0; s < 3; ++s)
                    rig.line().shoot();
                QTRY_COMPARE_WITH_TIMEOUT(rig.camera()->framesBuffered(), 0, 5000);
                QThread::msleep(20); // from the camera into the worker's pending frames
            }
            rig.line().endProduct();
            QVERIFY(rig.line().settle(5000));
            if (shoots) {
                FrameRecord record;
                QVERIFY(takeRecord(record));
                numbers[w] = record.product;
                if (windows[w].isUpper())
                    g_result_list[0]->push(Verdict{record.product, windows[w] == 'G'});
            }
        }
        rig.line().finish();
        QString got;
        for (const LineSimulator::JudgedProduct &p : rig.line().history(0))
            got += p.ejected ? '1' : '0';
        QCOMPARE(got.left(n), ejected);
        const int late = plan.count('g') + plan.count('b');
        QCOMPARE(int(g_product_account[0].late()), late);
        QCOMPARE(int(g_product_account[0].unjudged()), late + plan.count('x') + plan.count('-'));
        QCOMPARE(int(g_product_account[0].noFrames()), plan.count('-'));
        g_sys_conf.MISMATCHACT = 1;
    }

    void debugModeSendsFramesToTheDebugQueue()
    {
        Rig rig;
        QVERIFY(rig.open());
        g_debug_mode = true;
        rig.line().beginProduct();
        rig.line().shoot();
        rig.line().shoot();
        std::vector<cv::Mat> shown;
        for (int i = 0; i < 2; ++i) {
            cv::Mat m;
            g_debug_queue[0]->take(m);
            shown.push_back(m);
        }
        rig.line().endProduct();
        QVERIFY(rig.line().settle(5000));
        g_debug_mode = false;
        QCOMPARE(PatternFrameSource::shotNumberOf(shown[1]), 1);
        FrameRecord record;
        QVERIFY(!takeRecord(record, 300)); // nothing collected for inspection
    }

    void deviceLossEndsTheGrabLoop()
    {
        Rig rig;
        QVERIFY(rig.open());
        QThread *thread = rig.registry.workerThread(0);
        CaptureWorker *worker = rig.registry.worker(0);
        QSignalSpy lost(&rig.registry, &CameraRegistry::cameraLost); // queued to this thread
        rig.camera()->unplug();
        QTRY_VERIFY_WITH_TIMEOUT(worker->stopRequested(), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(!rig.camera()->isGrabbing(), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(lost.size(), 1, 2000);
        QCOMPARE(lost.at(0).at(0).toInt(), 0);
        QVERIFY(thread->isRunning()); // the position stays open until it is closed
        QVERIFY(rig.positions[0].opened);
        QVERIFY(rig.registry.SetCameraOpen(0, false));
    }

    void statisticsEverySecond()
    {
        Rig rig;
        QVERIFY(rig.open());
        QSignalSpy spy(&rig.registry, &CameraRegistry::updateStatistics);
        rig.line().beginProduct();
        for (int s = 0; s < 3; ++s)
            rig.line().shoot();
        QVERIFY(spy.wait(3000));
        QTRY_VERIFY_WITH_TIMEOUT(spy.size() >= 2, 3000);
        int sum = 0;
        for (const auto &args : spy)
            sum += args.at(0).toString().toInt();
        QCOMPARE(sum, 3);
        QCOMPARE(spy.at(0).at(1).toInt(), 0);
        rig.line().endProduct();
    }
};

QTEST_GUILESS_MAIN(tst_CaptureThreadHik)
#include "tst_capturethreadhik.moc"
