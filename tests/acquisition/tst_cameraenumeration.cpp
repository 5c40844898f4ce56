#include "StdoutCapture.h"

#include "CameraRegistry.h"
#include "SimBaslerTransportLayer.h"
#include "SimCamera.h"
#include "SimulatedStation.h"
#include "SysConf.h"

#include <QtTest>

// Which camera each position gets: candidates listed Basler (at most two), then HIK (at
// most four), then Balluff (at most four), and bound to positions by user ID.
class tst_CameraEnumeration : public QObject
{
    Q_OBJECT

private:
    struct Result
    {
        CameraSlot positions[4];
        QByteArray printed;
    };

    // cameras: "vendor|manufacturer|id" per camera, and "|refusals" where it has them;
    // userIds: USERID1..4. `later` runs on the registry before it goes.
    static Result enumerate(const QStringList &cameras, const QList<int> &userIds,
                            bool baslerFails = false,
                            const std::function<void(CameraRegistry &, Result &)> &later = {})
    {
        SimulatedStation::Settings s;
        s.source = "pattern";
        s.cameras.clear();
        for (const QString &c : cameras) {
            SimCamera::Config config;
            const bool ok = SimulatedStation::parseCamera(
                (c.section('|', 0, 2) + "|GigE|64|48|Mono8|" + c.section('|', 3)).toStdString(), config);
            if (!ok)
                qFatal("bad camera line %s", qPrintable(c));
            s.cameras.push_back(config);
        }
        SimulatedStation station(s);
        station.install();
        station.basler().setEnumerationFails(baslerFails);
        SysConf conf;
        for (int k = 0; k < 4; ++k)
            conf.USERID[k] = userIds.value(k, 255);
        CameraRegistry registry;
        Result r;
        StdoutCapture out;
        registry.EnumerateCameras(r.positions, true, conf);
        r.printed = out.text();
        if (later)
            later(registry, r);
        return r;
    }

    // "vendor:index" per position, "-" when not found.
    static QString bound(const Result &r)
    {
        QStringList parts;
        for (const CameraSlot &s : r.positions) {
            if (!s.found) {
                parts << "-";
                continue;
            }
            const int index = s.vendor == CameraSlot::Basler ? s.baslerIndex : s.deviceIndex;
            const char *v = s.vendor == CameraSlot::Basler ? "basler"
                            : s.vendor == CameraSlot::Hik  ? "hik"
                                                           : "balluff";
            parts << QString("%1:%2/%3").arg(v).arg(index).arg(s.userId);
        }
        return parts.join(' ');
    }

private slots:
    void binding_data()
    {
        QTest::addColumn<QStringList>("cameras");
        QTest::addColumn<QList<int>>("userIds");
        QTest::addColumn<QString>("expected");

        QTest::newRow("default station: two cameras with ID 255")
            << QStringList{"HIK|Hikrobot|255", "HIK|Hikrobot|255"} << QList<int>{}
            << "hik:0/255 hik:1/255 - -";
        QTest::newRow("ties: Basler before HIK before Balluff")
            << QStringList{"BALLUFF|Balluff|5", "HIK|Hikrobot|5", "BASLER|Basler|5"}
            << QList<int>{5, 5, 5, 5} << "basler:0/5 hik:0/5 balluff:0/5 -";
        QTest::newRow("same ID twice: earlier position, earlier camera")
            << QStringList{"HIK|Hikrobot|7", "HIK|Hikrobot|7"} << QList<int>{7, 7, 1, 2}
            << "hik:0/7 hik:1/7 - -";
        QTest::newRow("one camera is never given twice")
            << QStringList{"HIK|Hikrobot|7"} << QList<int>{7, 7, 7, 7} << "hik:0/7 - - -";
        QTest::newRow("manufacturer compared upper-cased")
            << QStringList{"HIK|hikvision|3", "HIK|u3v-cam|4", "HIK|Acme|5"}
            << QList<int>{3, 4, 5, 0} << "hik:0/3 hik:1/4 - -";
        QTest::newRow("only four HIK devices considered")
            << QStringList{"HIK|Hikrobot|1", "HIK|Hikrobot|2", "HIK|Hikrobot|3", "HIK|Hikrobot|4",
                           "HIK|Hikrobot|9"}
            << QList<int>{9, 1, 4, 255} << "- hik:0/1 hik:3/4 -";
        QTest::newRow("only two Basler devices considered")
            << QStringList{"BASLER|Basler|1", "BASLER|Basler|2", "BASLER|Basler|3"}
            << QList<int>{3, 2, 1, 255} << "- basler:1/2 basler:0/1 -";
        QTest::newRow("only four Balluff devices considered")
            << QStringList{"BALLUFF|Balluff|1", "BALLUFF|Balluff|2", "BALLUFF|Balluff|3",
                           "BALLUFF|Balluff|4", "BALLUFF|Balluff|5"}
            << QList<int>{5, 4, 3, 2} << "- balluff:3/4 balluff:2/3 balluff:1/2";
        QTest::newRow("non-numeric ID matches 0")
            << QStringList{"HIK|Hikrobot|left", "HIK|Hikrobot|12abc"} << QList<int>{12, 0}
            << "hik:1/12 hik:0/0 - -";
        QTest::newRow("Balluff with another maker's name is skipped")
            << QStringList{"BALLUFF|MATRIX VISION|1", "BALLUFF|BALLUFF GmbH|1"}
            << QList<int>{1} << "balluff:1/1 - - -";
    }

    void binding()
    {
        QFETCH(QStringList, cameras);
        QFETCH(QList<int>, userIds);
        QFETCH(QString, expected);
        QCOMPARE(bound(enumerate(cameras, userIds)), expected);
    }

    void verboseLog()
    {
        const Result r = enumerate({"BASLER|Basler|5", "HIK|Hikrobot|6", "HIK|Acme|7",
                                    "BALLUFF|Balluff|8"},
                                   {5, 6, 8, 0});
        QCOMPARE(r.printed, QByteArray("Basler user ID = 5\n"
                                       "Camera:0,vendor = Hikrobot\n"
                                       "Hikrobot user ID = 6\n"
                                       "Camera:1,vendor = Acme\n"
                                       "Camera:0,vendor = Balluff\n"
                                       "Balluff user ID = 8\n"
                                       "Camera Count:\t3\n"
                                       "Balluff Count:\t1\n"
                                       "Hikvision Count:\t1\n"
                                       "Basler Count:\t1\n"));
        QCOMPARE(bound(r), QString("basler:0/5 hik:0/6 balluff:0/8 -"));
    }

    void noCameraAtAll()
    {
        const Result r = enumerate({}, {});
        QCOMPARE(r.printed, QByteArray("Camera Count:\t0\n"));
        QCOMPARE(bound(r), QString("- - - -"));
    }

    void hikThatCannotBeOpenedHasUserIdZero()
    {
        SimulatedStation::Settings s;
        s.source = "pattern";
        SimCamera::Config c;
        QVERIFY(SimulatedStation::parseCamera("HIK|Hikrobot|42|USB3|64|48|Mono8|open-fails-always", c));
        s.cameras = {c};
        SimulatedStation station(s);
        station.install();
        SysConf conf;
        conf.USERID[0] = 0;
        CameraSlot positions[4];
        CameraRegistry registry;
        StdoutCapture out;
        registry.EnumerateCameras(positions, true, conf);
        QVERIFY(positions[0].found);
        QCOMPARE(positions[0].userId, 0);
        QVERIFY(!out.text().contains("Hikrobot user ID"));
    }

    // A camera whose open fails at enumeration has no known user ID: it waits, named, for
    // a later read to bind it; the cameras listed after it are not lost.
    void userIdReadLater_data()
    {
        QTest::addColumn<QStringList>("cameras");
        QTest::addColumn<QList<int>>("userIds");
        QTest::addColumn<QString>("atStart");
        QTest::addColumn<QStringList>("unidentified");
        QTest::addColumn<QString>("later");
        QTest::newRow("Balluff")
            << QStringList{"BALLUFF|Balluff|3|open-fails-once"} << QList<int>{255, 3}
            << "- - - -" << QStringList{"Balluff, device 0"} << "- balluff:0/3 - -";
        QTest::newRow("first of two Basler")
            << QStringList{"BASLER|Basler|1|open-fails-once", "BASLER|Basler|2"} << QList<int>{1, 2}
            << "- basler:1/2 - -" << QStringList{"Basler, device 0 (model acA1300-SIM)"}
            << "basler:0/1 basler:1/2 - -";
        QTest::newRow("HIK")
            << QStringList{"HIK|Hikrobot|4|open-fails-once"} << QList<int>{4}
            << "- - - -" << QStringList{"HIK, device 0 (model MV-CA013-SIM)"} << "hik:0/4 - - -";
        QTest::newRow("never opens")
            << QStringList{"BALLUFF|Balluff|3|open-fails-always"} << QList<int>{3}
            << "- - - -" << QStringList{"Balluff, device 0"} << "- - - -";
    }

    void userIdReadLater()
    {
        QFETCH(QStringList, cameras);
        QFETCH(QList<int>, userIds);
        QFETCH(QString, atStart);
        QFETCH(QStringList, unidentified);
        QFETCH(QString, later);
        // Collected while standard output, where QTest reports, is captured.
        QString boundAtStart, boundLater;
        QStringList named, left;
        std::vector<int> bindings;
        enumerate(cameras, userIds, false, [&](CameraRegistry &registry, Result &r) {
            boundAtStart = bound(r);
            named = registry.unidentifiedCameras();
            bindings = registry.identifyCameras();
            boundLater = bound(r);
            left = registry.unidentifiedCameras();
        });
        QCOMPARE(boundAtStart, atStart);
        QCOMPARE(named, unidentified);
        QCOMPARE(boundLater, later);
        QCOMPARE(int(bindings.size()), later == atStart ? 0 : 1);
        QCOMPARE(left, later == atStart ? unidentified : QStringList());
    }

    void baslerEnumerationErrorContributesNothing()
    {
        const Result r = enumerate({"BASLER|Basler|1", "HIK|Hikrobot|1"}, {1, 1}, true);
        QCOMPARE(bound(r), QString("hik:0/1 - - -"));
        QVERIFY(!r.printed.contains("Basler Count"));
    }

    void stationFileDefaultsAndParsing()
    {
        QTemporaryDir dir;
        bool found = true;
        SimulatedStation::Settings d = SimulatedStation::read(dir.filePath("none.txt"), &found);
        QVERIFY(!found);
        QCOMPARE(int(d.cameras.size()), 2);
        QCOMPARE(d.cameras[0].userId, std::string("255"));
        QVERIFY(d.cameras[1].vendor == SimCamera::Vendor::Hik);

        QFile f(dir.filePath("camsim.txt"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("# a line\n"
                "CAMERA=Basler|Basler|3|USB3|1280|1024|Mono8|no-Line4,no-LineDebouncerTime\n"
                "CAMERA=Balluff|Balluff|4|GigE|640|480|BGR8|open-fails-once\n"
                "CAMERA=Zeiss|Zeiss|5|GigE|640|480|Mono8|\n"
                "CAMERA=HIK|Hikrobot|6|GigE|2|2|Mono8|\n"
                "RATE=1200\nSHOTS=2\nNG_SHARE=0.25\nSOURCE=pattern\nSEED=9\nCOLOUR=1\n");
        f.close();
        StdoutCapture out;
        SimulatedStation::Settings s = SimulatedStation::read(f.fileName(), &found);
        QVERIFY(found);
        QCOMPARE(int(s.cameras.size()), 2);
        QVERIFY(s.cameras[0].profile.missingLines.count("Line4"));
        QVERIFY(s.cameras[0].profile.refusedFeatures.count("LineDebouncerTime"));
        QVERIFY(s.cameras[0].transport == SimCamera::Transport::Usb3);
        QVERIFY(s.cameras[1].format == SimCamera::PixelFormat::Bgr8);
        QCOMPARE(s.cameras[1].profile.openFailures, 1);
        QCOMPARE(s.productsPerMinute, 1200.0);
        QCOMPARE(s.shots, 2);
        QCOMPARE(s.ngShare, 0.25);
        QCOMPARE(s.seed, 9u);
        const QByteArray printed = out.text();
        QCOMPARE(printed.count('\n'), 3); // two bad cameras and one unknown key
    }
};

QTEST_GUILESS_MAIN(tst_CameraEnumeration)
#include "tst_cameraenumeration.moc"
