#include "TakeWithin.h"

#include "CameraRegistry.h"
#include "CaptureWorker.h"
#include "DebugMode.h"
#include "LineSimulator.h"
#include "PatternFrameSource.h"
#include "ProductAccount.h"
#include "SimCamera.h"
#include "SimulatedStation.h"
#include "StationQueues.h"
#include "SysConf.h"

#include <QThread>
#include <QtTest>

#include <thread>

// The Basler and Balluff capture workers on simulated cameras: products stacked per
// window, both verdict outputs, colour frames, statistics.
class tst_CaptureWorkers : public QObject
{
    Q_OBJECT

private:
    struct Rig
    {
        explicit Rig(const std::string &camera)
        {
            SimulatedStation::Settings s;
            s.source = "pattern";
            s.shots = 2;
            SimCamera::Config c;
            if (!SimulatedStation::parseCamera(camera, c))
                qFatal("bad camera");
            s.cameras = {c};
            station = std::make_unique<SimulatedStation>(s);
            station->install();
            SysConf conf;
            conf.USERID[0] = 1;
            registry.EnumerateCameras(positions, false, conf);
            StationQueues::create();
        }
        ~Rig()
        {
            registry.closeAll();
            StationQueues::release();
        }
        bool open()
        {
            if (!registry.SetCameraOpen(0, true))
                return false;
            QElapsedTimer t;
            t.start();
            while (!camera()->isGrabbing() || !eventsOn()) {
                if (t.elapsed() > 5000)
                    return false;
                QThread::msleep(5);
            }
            return true;
        }
        bool eventsOn() const
        {
            return camera()->featureAt("EventNotification", "Line1FallingEdge") == "2"
                   || camera()->featureAt("EventNotification", "Line5AnyEdge") == "On";
        }
        SimCamera *camera() const { return station->camera(0); }
        LineSimulator &line() const { return station->line(); }
        // One product: window up, two shots, window down; the frames reach the worker first.
        void product()
        {
            line().beginProduct();
            line().settle(5000);
            line().shoot();
            line().shoot();
            QThread::msleep(250);
            line().endProduct();
            line().settle(5000);
        }

        std::unique_ptr<SimulatedStation> station;
        CameraSlot positions[4];
        CameraRegistry registry;
    };

    static bool takeRecord(FrameRecord &record, int timeoutMs = 5000)
    {
        return takeWithin(*g_image_queue[0], record, timeoutMs) && !record.image.empty();
    }

private slots:
    void verdictOutputs_data()
    {
        QTest::addColumn<QString>("camera");
        QTest::addColumn<int>("channels");
        QTest::addColumn<QString>("goodLine");
        QTest::addColumn<QString>("badLine");
        QTest::newRow("Basler") << "Basler|Basler|1|GigE|32|24|Mono8|" << 1 << "Line2" << "Line4";
        QTest::newRow("Basler colour") << "Basler|Basler|1|USB3|32|24|BGR8|" << 1 << "Line2" << "Line4";
        QTest::newRow("Balluff") << "Balluff|Balluff|1|GigE|32|24|Mono8|" << 1 << "Line1" << "Line0";
        QTest::newRow("Balluff colour") << "Balluff|Balluff|1|GigE|32|24|BGR8|" << 3 << "Line1" << "Line0";
        // A reject output refused at set-up: bad products pass, and none is recorded ejected.
        QTest::newRow("Basler without Line4") << "Basler|Basler|1|GigE|32|24|Mono8|no-Line4" << 1 << "Line2" << "";
        QTest::newRow("Balluff without Line0") << "Balluff|Balluff|1|GigE|32|24|Mono8|no-Line0" << 1 << "Line1" << "";
    }

    void verdictOutputs()
    {
        QFETCH(QString, camera);
        QFETCH(int, channels);
        QFETCH(QString, goodLine);
        QFETCH(QString, badLine);
        Rig rig(camera.toStdString());
        QVERIFY(rig.open());
        // Verdicts of products 0..3: good, bad, good, good. Each reaches its output at the
        // rising edge two windows later.
        const std::vector<bool> verdicts{true, false, true, true};
        QSignalSpy empty(&rig.registry, &CameraRegistry::windowsWithoutFrames);
        qulonglong lastShot = 0;
        std::vector<uint64_t> products;
        for (size_t j = 0; j < verdicts.size() + 2; ++j) {
            if (j < verdicts.size()) {
                rig.product();
                FrameRecord record;
                QVERIFY(takeRecord(record));
                QCOMPARE(record.shots, 2);
                QCOMPARE(record.image.channels(), channels);
                QCOMPARE(record.image.rows, 48);
                QCOMPARE(PatternFrameSource::shotNumberOf(record.image.rowRange(24, 48)), 1);
                g_result_list[0]->push(Verdict{record.product, bool(verdicts[j])});
                lastShot = record.product;
                products.push_back(record.product);
            } else {
                rig.line().beginProduct();
                rig.line().settle(5000);
                rig.line().endProduct();
                rig.line().settle(5000);
            }
        }
        std::vector<std::string> expected;
        for (bool good : verdicts)
            if (!(good ? goodLine : badLine).isEmpty())
                expected.push_back((good ? goodLine : badLine).toStdString());
        QCOMPARE(rig.camera()->pulses(), expected);
        for (size_t j = 0; j < verdicts.size(); ++j)
            QCOMPARE(g_product_account[0].outcome(products[j]).rejected, !verdicts[j] && !badLine.isEmpty());
        // The two windows without a frame at the end: one run, said once, from its first.
        QTRY_COMPARE(empty.count(), 1);
        QCOMPARE(empty.at(0).at(1).toULongLong(), lastShot + 1);
        QVERIFY(rig.registry.SetCameraOpen(0, false));
        QVERIFY(!rig.camera()->isOpen());
        // Closed means gone: a camera object kept would outlive the back-end that made it.
        QVERIFY(!rig.registry.baslerCamera(0));
    }

    // Two boxes are between camera and ejector when it is closed: a bad one, then a good
    // one. Across a reopening on a line that stood still they keep their verdicts; after
    // one that the line ran through unseen, MISMATCHACT (here: pass) decides for both.
    void reopenWithBoxesAhead_data()
    {
        QTest::addColumn<bool>("lineStood");
        QTest::addColumn<QStringList>("pulses");
        QTest::addColumn<int>("unjudged");
        QTest::newRow("line stood") << true << QStringList{"Line4", "Line2"} << 0;
        QTest::newRow("line ran") << false << QStringList{"Line2", "Line2"} << 2;
    }

    void reopenWithBoxesAhead()
    {
        QFETCH(bool, lineStood);
        QFETCH(QStringList, pulses);
        QFETCH(int, unjudged);
        Rig rig("Basler|Basler|1|GigE|32|24|Mono8|");
        QVERIFY(rig.open());
        for (bool good : {false, true}) {
            rig.product();
            FrameRecord record;
            QVERIFY(takeRecord(record));
            g_result_list[0]->push(Verdict{record.product, good});
        }
        QVERIFY(rig.camera()->pulses().empty());
        QVERIFY(rig.registry.SetCameraOpen(0, false));
        if (lineStood)
            rig.registry.keepBoxesAhead(0);
        const int mismatchAct = g_sys_conf.MISMATCHACT;
        g_sys_conf.MISMATCHACT = 0;
        const uint64_t unjudgedBefore = g_product_account[0].unjudged();
        QVERIFY(rig.open());
        for (int w = 0; w < 2; ++w) {
            rig.line().beginProduct();
            rig.line().settle(5000);
            rig.line().endProduct();
            rig.line().settle(5000);
        }
        g_sys_conf.MISMATCHACT = mismatchAct;
        QStringList seen;
        for (const std::string &line : rig.camera()->pulses())
            seen << QString::fromStdString(line);
        QCOMPARE(seen, pulses);
        QCOMPARE(int(g_product_account[0].unjudged() - unjudgedBefore), unjudged);
    }

    void debugModeAndEmptyWindows_data()
    {
        QTest::addColumn<QString>("camera");
        QTest::newRow("Basler") << "Basler|Basler|1|GigE|32|24|Mono8|";
        QTest::newRow("Balluff") << "Balluff|Balluff|1|GigE|32|24|Mono8|";
    }

    void debugModeAndEmptyWindows()
    {
        QFETCH(QString, camera);
        Rig rig(camera.toStdString());
        QVERIFY(rig.open());
        rig.line().beginProduct();
        rig.line().endProduct();
        QVERIFY(rig.line().settle(5000));
        FrameRecord record;
        QVERIFY(!takeRecord(record, 300)); // no frames: nothing to inspect, still a product
        QCOMPARE(g_shooted_list[0]->size(), 1);

        g_debug_mode = true;
        rig.line().beginProduct();
        rig.line().shoot();
        cv::Mat shown;
        g_debug_queue[0]->take(shown);
        rig.line().endProduct();
        QVERIFY(rig.line().settle(5000));
        g_debug_mode = false;
        QVERIFY(!shown.empty());
        QVERIFY(!takeRecord(record, 300));
    }

    void balluffStatisticsEveryHundredFrames()
    {
        Rig rig("Balluff|Balluff|1|GigE|16|8|Mono8|");
        QVERIFY(rig.open());
        QSignalSpy spy(&rig.registry, &CameraRegistry::updateStatistics);
        const cv::Mat frame(8, 16, CV_8UC1, cv::Scalar(1));
        for (int i = 0; i < 250; ++i) {
            rig.camera()->triggerPulse(frame);
            if (i % 5 == 4)
                QThread::msleep(2); // the camera holds 64 frames at most
        }
        QTRY_COMPARE_WITH_TIMEOUT(spy.size(), 2, 5000);
        QTest::qWait(200);
        QCOMPARE(spy.size(), 2); // after the 100th and the 200th frame only
        QCOMPARE(spy.at(0).at(1).toInt(), 0);
    }

    void baslerDeviceLossEndsItsLoop()
    {
        Rig rig("Basler|Basler|1|GigE|32|24|Mono8|");
        QVERIFY(rig.open());
        CaptureWorker *worker = rig.registry.worker(0);
        // Counted on this thread through a queued call: a spy on the worker would be
        // filled by the worker's thread while this one reads it.
        int errors = 0;
        QObject receiver;
        connect(worker, &CaptureWorker::error, &receiver, [&errors] { ++errors; });
        QSignalSpy lost(&rig.registry, &CameraRegistry::cameraLost); // queued to this thread
        rig.camera()->unplug();
        QTRY_VERIFY_WITH_TIMEOUT(errors >= 1, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(lost.size(), 1, 2000);
        QVERIFY(rig.positions[0].opened); // stays open until closed
        QVERIFY(rig.registry.SetCameraOpen(0, false));
    }
};

QTEST_GUILESS_MAIN(tst_CaptureWorkers)
#include "tst_captureworkers.moc"
