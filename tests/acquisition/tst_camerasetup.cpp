#include "StdoutCapture.h"

#include "BalluffFunctionInterface.h"
#include "CameraRegistry.h"
#include "CaptureWorker.h"
#include "DebugMode.h"
#include "IdleCaptureWorker.h"
#include "SimCamera.h"
#include "SimulatedStation.h"
#include "StationQueues.h"
#include "SysConf.h"

#include <QThread>
#include <QtTest>

// The feature writes each vendor's camera receives when a position is opened and when
// the acquisition mode changes, and the open/close life of a position.
class tst_CameraSetup : public QObject
{
    Q_OBJECT

private:
    using Texts = std::vector<std::string>;

    static SimCamera::Config camera(SimCamera::Vendor vendor, const std::string &userId)
    {
        SimCamera::Config c;
        c.vendor = vendor;
        c.manufacturer = vendor == SimCamera::Vendor::Hik      ? "Hikrobot"
                         : vendor == SimCamera::Vendor::Basler ? "Basler"
                                                               : "Balluff";
        c.userId = userId;
        return c;
    }

    struct Rig
    {
        explicit Rig(std::vector<SimCamera::Config> cameras, int expo = 2000, int gain = 0,
                     int filter = 500)
        {
            SimulatedStation::Settings s;
            s.cameras = std::move(cameras);
            s.source = "pattern";
            station = std::make_unique<SimulatedStation>(s);
            station->install();
            for (int k = 0; k < 4; ++k) {
                conf.USERID[k] = k + 1;
                g_sys_conf.EXPO[k] = expo;
                g_sys_conf.GAIN[k] = gain;
                g_sys_conf.FILTER[k] = filter;
            }
            // Set-up sequences only: a worker that writes nothing of its own.
            registry.setWorkerFactory(
                [](int position, int) { return new IdleCaptureWorker(false, position); });
            registry.EnumerateCameras(positions, false, conf);
            for (int i = 0; i < station->cameraCount(); ++i)
                station->camera(i)->clearRecords();
        }
        ~Rig() { registry.closeAll(); }
        SimCamera *cam(int i) { return station->camera(i); }

        std::unique_ptr<SimulatedStation> station;
        SysConf conf;
        CameraSlot positions[4];
        CameraRegistry registry;
    };

    // Feature writes without the ones a test does not care about.
    static Texts writes(SimCamera *c) { return c->featureWriteTexts(); }

private slots:
    void initTestCase() { StationQueues::create(); }
    void cleanupTestCase() { StationQueues::release(); }

    void hikOpenOnGigE()
    {
        Rig rig({camera(SimCamera::Vendor::Hik, "1")}, 1500, 7, 300);
        StdoutCapture out;
        QVERIFY(rig.registry.SetCameraOpen(0, true));
        QCOMPARE(writes(rig.cam(0)),
                 (Texts{"GevSCPSPacketSize=8164", "LineSelector=1", "LineSource=5",
                        "StrobeEnable=true", "StrobeLineDuration=10000", "LineSelector=0",
                        "LineDebouncerTime=300", "LineSelector=2", "LineDebouncerTime=300",
                        "TriggerMode=1", "TriggerSource=2", "TriggerActivation=1",
                        "BinningHorizontal=2", "BinningVertical=2", "ExposureAuto=0",
                        "ExposureMode=0", "ExposureTime=1500", "GainAuto=0", "Gain=7"}));
        QCOMPARE(out.text(), QByteArray());
        QVERIFY(rig.cam(0)->triggeredMode());
    }

    void hikUsb3SkipsPacketSizeAndReportsRefusals()
    {
        SimCamera::Config c = camera(SimCamera::Vendor::Hik, "1");
        c.transport = SimCamera::Transport::Usb3;
        c.profile.refusedFeatures = {"LineDebouncerTime", "Gain", "StrobeEnable"};
        Rig rig({c}, 2000, 0, 0);
        QByteArray printed;
        {
            StdoutCapture out;
            QVERIFY(rig.registry.SetCameraOpen(0, true));
            printed = out.text();
        }
        const Texts w = writes(rig.cam(0));
        QCOMPARE(w.front(), std::string("LineSelector=1"));
        QCOMPARE(w.at(5), std::string("LineDebouncerTime=0 (refused)"));
        QVERIFY(std::find(w.begin(), w.end(), "GevSCPSPacketSize=8164") == w.end());
        QCOMPARE(printed, QByteArray("can not set StrobeEnable\ncan not set LineDebouncerTime\n"
                                     "can not set LineDebouncerTime\ncan not set Gain\n"));
        // Its reject output fires no strobe: the camera cannot eject.
        QCOMPARE(rig.registry.rejectRefused(0), QStringList{"Line1 StrobeEnable"});
        QVERIFY(rig.registry.SetCameraOpen(0, false));
    }

    void hikOpenRetriesOnceThenGivesUp()
    {
        Rig rig({camera(SimCamera::Vendor::Hik, "1"), camera(SimCamera::Vendor::Hik, "2")});
        rig.cam(0)->setOpenFailures(1);
        rig.cam(1)->setOpenFailures(-1);
        QVERIFY(rig.registry.SetCameraOpen(0, true));
        QCOMPARE(rig.cam(0)->lifecycle(), (Texts{"open failed", "open"}));
        QVERIFY(rig.positions[0].opened);

        QTest::ignoreMessage(QtDebugMsg, "open for hik");
        QTest::ignoreMessage(QtDebugMsg, "Failed to open camera");
        QVERIFY(!rig.registry.SetCameraOpen(1, true));
        QCOMPARE(rig.cam(1)->lifecycle(), (Texts{"open failed", "open failed"}));
        QVERIFY(!rig.positions[1].opened);
        QVERIFY(!rig.registry.workerThread(1));
    }

    void baslerOpen_data()
    {
        QTest::addColumn<QStringList>("refusals");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<QByteArray>("printed");
        QTest::addColumn<QStringList>("cannotEject"); // the reject output's refused features
        const QStringList tail = {"LineSelector=10", "UserOutputDuration=10000", "LineSource=35",
                                  "UserOutputSelector=1", "UserOutputValue=false",
                                  "ExposureAuto=1", "ExposureMode=1", "ExposureTime=2000",
                                  "GainSelector=0", "GainAuto=1", "Gain=0",
                                  "TriggerSelector=11", "TriggerMode=1", "TriggerSource=19",
                                  "TriggerActivation=4", "BinningHorizontal=2",
                                  "BinningVertical=2"};
        QTest::newRow("full camera")
            << QStringList()
            << (QStringList{"LineSelector=9", "LineDebouncerTime=500", "LineSelector=11",
                            "LineMode=0", "LineDebouncerTime=500", "LineSelector=12",
                            "LineMode=1", "UserOutputDuration=10000", "LineSource=37",
                            "UserOutputSelector=3", "UserOutputValue=false"}
                + tail)
            << QByteArray() << QStringList();
        QTest::newRow("no debouncer")
            << QStringList{"no-LineDebouncerTime"}
            << (QStringList{"LineSelector=9", "LineDebouncerTime=500 (refused)",
                            "BslInputFilterTime=500", "LineSelector=11", "LineMode=0",
                            "LineDebouncerTime=500 (refused)", "BslInputFilterTime=500",
                            "LineSelector=12", "LineMode=1", "UserOutputDuration=10000",
                            "LineSource=37", "UserOutputSelector=3", "UserOutputValue=false"}
                + tail)
            << QByteArray("can not set LineDebouncerTime\ncan not set LineDebouncerTime\n")
            << QStringList();
        QTest::newRow("no input filter at all")
            << QStringList{"no-LineDebouncerTime", "no-BslInputFilterTime", "no-Line4"}
            << (QStringList{"LineSelector=9", "LineDebouncerTime=500 (refused)",
                            "BslInputFilterTime=500 (refused)", "LineSelector=11", "LineMode=0",
                            "LineDebouncerTime=500 (refused)", "BslInputFilterTime=500 (refused)",
                            "LineSelector=12 (refused)"}
                + tail)
            << QByteArray("can not set LineDebouncerTime\ncan not set BslInputFilterTime\n"
                          "can not set LineDebouncerTime\ncan not set BslInputFilterTime\n"
                          "can not set LineSelector_Line4\n")
            << QStringList{"Line4"};
    }

    void baslerOpen()
    {
        QFETCH(QStringList, refusals);
        QFETCH(QStringList, expected);
        QFETCH(QByteArray, printed);
        QFETCH(QStringList, cannotEject);
        SimCamera::Config c = camera(SimCamera::Vendor::Basler, "1");
        const std::string tokens = refusals.join(',').toStdString();
        QVERIFY(SimulatedStation::parseCamera("Basler|Basler|1|GigE|728|544|Mono8|" + tokens, c));
        Rig rig({c});
        QByteArray got;
        {
            StdoutCapture out;
            QVERIFY(rig.registry.SetCameraOpen(0, true));
            got = out.text();
        }
        QStringList w;
        for (const std::string &t : writes(rig.cam(0)))
            w << QString::fromStdString(t);
        QCOMPARE(w, expected);
        QCOMPARE(got, printed);
        QCOMPARE(rig.registry.rejectRefused(0), cannotEject);
        QVERIFY(rig.cam(0)->triggeredMode());
    }

    void baslerRaisedErrorLeavesPositionClosed()
    {
        SimCamera::Config c = camera(SimCamera::Vendor::Basler, "1");
        c.profile.refusedFeatures = {"ExposureTime"};
        Rig rig({c});
        QVERIFY(!rig.registry.SetCameraOpen(0, true));
        QVERIFY(!rig.positions[0].opened);
        QVERIFY(!rig.cam(0)->isOpen());
        QVERIFY(!rig.registry.workerThread(0));
    }

    void balluffOpen()
    {
        Rig rig({camera(SimCamera::Vendor::Balluff, "1")}, 3000, 12, 40);
        QVERIFY(rig.registry.SetCameraOpen(0, true));
        QCOMPARE(writes(rig.cam(0)),
                 (Texts{"TimerSelector=Timer1", "TimerTriggerSource=UserOutput0",
                        "TimerDuration=10000", "TimerTriggerActivation=AnyEdge",
                        "TimerSelector=Timer2", "TimerTriggerSource=UserOutput1",
                        "TimerDuration=10000", "TimerTriggerActivation=AnyEdge",
                        "LineSelector=Line0", "LineSource=Timer1Active", "LineSelector=Line1",
                        "LineSource=Timer2Active", "LineSelector=Line4",
                        "mvLineDebounceTimeRisingEdge=40", "LineSelector=Line5",
                        "mvLineDebounceTimeRisingEdge=40", "BinningHorizontalMode=Sum",
                        "BinningHorizontal=2", "BinningVerticalMode=Sum", "BinningVertical=2",
                        "TriggerMode=On", "TriggerSource=Line4", "TriggerActivation=RisingEdge",
                        "ExposureTime=3000", "Gain=12"}));
        QVERIFY(rig.registry.balluffFunctions(0));
        QVERIFY(rig.cam(0)->triggeredMode());
    }

    // A refused write ends the open and closes the device, but for the reject output's:
    // without it the camera opens, and says that it cannot eject.
    void balluffRefusals_data()
    {
        QTest::addColumn<QString>("refusal");
        QTest::addColumn<bool>("opens");
        QTest::addColumn<QByteArray>("printed");
        QTest::addColumn<QStringList>("cannotEject");
        QTest::newRow("input debouncer: the open ends")
            << "no-mvLineDebounceTimeRisingEdge" << false
            << QByteArray("mvIMPACT::acquire::EnumPropertyI64<__int64>::write") << QStringList();
        QTest::newRow("reject output Line0: it opens")
            << "no-Line0" << true << QByteArray("can not set Line0 (mvIMPACT::acquire::Property::writeS")
            << QStringList{"Line0"};
    }

    void balluffRefusals()
    {
        QFETCH(QString, refusal);
        QFETCH(bool, opens);
        QFETCH(QByteArray, printed);
        QFETCH(QStringList, cannotEject);
        SimCamera::Config c = camera(SimCamera::Vendor::Balluff, "1");
        QVERIFY(SimulatedStation::parseCamera("Balluff|Balluff|1|GigE|728|544|Mono8|" + refusal.toStdString(), c));
        Rig rig({c});
        QByteArray got;
        bool opened = false;
        {
            StdoutCapture out;
            opened = rig.registry.SetCameraOpen(0, true);
            got = out.text();
        }
        QCOMPARE(opened, opens);
        QVERIFY2(got.contains(printed), got.constData());
        QCOMPARE(rig.registry.rejectRefused(0), cannotEject);
        if (!opens)
            QCOMPARE(writes(rig.cam(0)).back(), std::string("mvLineDebounceTimeRisingEdge=500 (refused)"));
        QCOMPARE(rig.cam(0)->isOpen(), opens);
        QCOMPARE(rig.positions[0].opened, opens);
        QCOMPARE(bool(rig.registry.balluffFunctions(0)), opens);
    }

    void modeSwitchesOnEveryOpenCameraOnly()
    {
        Rig rig({camera(SimCamera::Vendor::Hik, "1"), camera(SimCamera::Vendor::Basler, "2"),
                 camera(SimCamera::Vendor::Balluff, "3"), camera(SimCamera::Vendor::Hik, "4")});
        // Basler is listed first, so position 1 (user ID 2) holds it.
        QCOMPARE(rig.positions[1].vendor, int(CameraSlot::Basler));
        for (int p = 0; p < 3; ++p)
            QVERIFY(rig.registry.SetCameraOpen(p, true));
        // Camera 4 is found but stays closed.
        QVERIFY(rig.positions[3].found && !rig.positions[3].opened);
        SimCamera *hik = rig.cam(0), *basler = rig.cam(1), *balluff = rig.cam(2), *closed = rig.cam(3);
        for (int i = 0; i < 4; ++i)
            rig.cam(i)->clearRecords();

        rig.registry.EnableDebugMode();
        QVERIFY(g_debug_mode);
        QCOMPARE(writes(hik), (Texts{"AcquisitionFrameRate=10", "AcquisitionFrameRateEnable=true",
                                     "TriggerMode=0"}));
        QCOMPARE(writes(basler), (Texts{"TriggerSelector=11", "TriggerMode=0",
                                        "AcquisitionFrameRateEnable=true",
                                        "AcquisitionFrameRate=10"}));
        QCOMPARE(writes(balluff), (Texts{"AcquisitionFrameRateEnable=true",
                                         "AcquisitionFrameRate=10", "TriggerMode=Off"}));
        QVERIFY(hik->freeRunMode() && basler->freeRunMode() && balluff->freeRunMode());
        QVERIFY(writes(closed).empty());

        for (int i = 0; i < 4; ++i)
            rig.cam(i)->clearRecords();
        rig.registry.DisableDebugMode();
        QVERIFY(!g_debug_mode);
        QCOMPARE(writes(hik), (Texts{"TriggerMode=1", "TriggerSource=2", "TriggerActivation=1",
                                     "AcquisitionFrameRate=1000",
                                     "AcquisitionFrameRateEnable=false"}));
        QCOMPARE(writes(basler), (Texts{"TriggerSelector=11", "TriggerMode=1",
                                        "AcquisitionFrameRateEnable=false"}));
        QCOMPARE(writes(balluff), (Texts{"AcquisitionFrameRateEnable=false", "TriggerMode=On",
                                         "TriggerSource=Line4", "TriggerActivation=RisingEdge"}));
        QVERIFY(hik->triggeredMode() && basler->triggeredMode() && balluff->triggeredMode());
        QVERIFY(writes(closed).empty());
    }

    void modeSwitchRefusalsAreReported()
    {
        SimCamera::Config c = camera(SimCamera::Vendor::Basler, "1");
        Rig rig({c});
        QVERIFY(rig.registry.SetCameraOpen(0, true));
        rig.cam(0)->unplug(); // every later write is refused
        QByteArray printed;
        {
            StdoutCapture out;
            rig.registry.EnableDebugMode();
            printed = out.text();
        }
        QVERIFY2(printed.contains("An exception occurred."), printed.constData());
        QVERIFY(g_debug_mode);
        rig.registry.DisableDebugMode();
    }

    void openCloseReopen()
    {
        Rig rig({camera(SimCamera::Vendor::Hik, "1"), camera(SimCamera::Vendor::Hik, "2")});
        QVERIFY(!rig.registry.SetCameraOpen(0, false)); // closed already: nothing to do
        QVERIFY(rig.registry.SetCameraOpen(0, true));
        QThread *firstThread = rig.registry.workerThread(0);
        CaptureWorker *firstWorker = rig.registry.worker(0);
        QVERIFY(firstThread && firstThread->isRunning());
        QCOMPARE(firstWorker->thread(), firstThread);
        QVERIFY(!rig.registry.SetCameraOpen(0, true)); // open already: nothing changes
        QCOMPARE(rig.registry.workerThread(0), firstThread);
        QCOMPARE(rig.cam(0)->lifecycle(), (Texts{"open"}));

        QVERIFY(rig.registry.SetCameraOpen(0, false));
        QVERIFY(!rig.positions[0].opened);
        QVERIFY(!rig.registry.workerThread(0));
        QCOMPARE(rig.cam(0)->lifecycle(), (Texts{"open", "close"}));
        QVERIFY(!rig.registry.SetCameraOpen(0, false));

        QVERIFY(rig.registry.SetCameraOpen(0, true));
        QVERIFY(rig.registry.workerThread(0));
        QVERIFY(rig.registry.workerThread(0)->isRunning());
        QCOMPARE(rig.cam(0)->lifecycle(), (Texts{"open", "close", "open"}));
        QVERIFY(!rig.positions[1].opened);
        QVERIFY(!rig.registry.SetCameraOpen(2, true)); // nothing found there
        QVERIFY(!rig.registry.SetCameraOpen(7, true));
    }

    void workerStatisticsReachTheRegistrySignal()
    {
        Rig rig({camera(SimCamera::Vendor::Hik, "1")});
        QVERIFY(rig.registry.SetCameraOpen(0, true));
        QSignalSpy spy(&rig.registry, &CameraRegistry::updateStatistics);
        CaptureWorker *worker = rig.registry.worker(0);
        // Emitted on the worker's own thread, as a grab loop does.
        QMetaObject::invokeMethod(worker, [worker] { emit worker->updateStatistics("12", 0); },
                                  Qt::QueuedConnection);
        QVERIFY(spy.wait(5000));
        QCOMPARE(spy.at(0).at(0).toString(), QString("12"));
        QCOMPARE(spy.at(0).at(1).toInt(), 0);
    }
};

QTEST_GUILESS_MAIN(tst_CameraSetup)
#include "tst_camerasetup.moc"
