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

    void windowWithoutFramesSendsNothing()
    {
        Rig rig;
        QVERIFY(rig.open());
        rig.line().beginProduct();
        rig.line().endProduct();
        QVERIFY(rig.line().settle(5000));
        FrameRecord record;
        QVERIFY(!takeRecord(record, 300));
        QCOMPARE(g_shooted_list[0]->size(), 0);
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
                g_result_list[0]->push(verdicts[j]); // judged before the next window
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

    void risingEdgeWithoutVerdictFiresNothing()
    {
        Rig rig;
        QVERIFY(rig.open());
        g_shooted_list[0]->push(true);
        rig.line().beginProduct(); // shot moves to waiting
        QVERIFY(rig.line().settle(5000));
        QCOMPARE(g_result_wait_list[0]->size(), 1);
        rig.line().endProduct();
        rig.line().beginProduct(); // waiting consumed, no verdict: nothing fires
        QVERIFY(rig.line().settle(5000));
        QCOMPARE(g_result_wait_list[0]->size(), 0);
        QVERIFY(rig.camera()->pulses().empty());
        g_result_list[0]->push(true); // a good verdict never fires either
        QVERIFY(rig.camera()->pulses().empty());
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
        rig.camera()->unplug();
        QTRY_VERIFY_WITH_TIMEOUT(worker->stopRequested(), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(!rig.camera()->isGrabbing(), 5000);
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
