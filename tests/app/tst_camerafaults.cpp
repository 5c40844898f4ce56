// Cameras that cannot eject or will not open, on the whole working station in one process:
// the window with automatic open and work, two simulated cameras at 600 products/min with
// one bad product in ten, the shipped model, the PLC simulator. The operator sees the
// faulty camera, the log names it, and the other camera inspects and ejects throughout.
#include "AnsweredMessages.h"
#include "CameraSlot.h"
#include "Gluebox.h"
#include "LineSimulator.h"
#include "ProductAccount.h"
#include "SimulatedStation.h"
#include "StationControl.h"
#include "StationFonts.h"
#include "TempStation.h"
#include "WorkingStation.h"

#include <QtTest>

#include <algorithm>
#include <memory>

using namespace WorkingStation;

namespace {
enum class CameraFault { NoRejectOutput, OpenFailsOnce };

const QString kGreen = QStringLiteral("background-color: rgb(0, 170, 0);");
const QString kYellow = QStringLiteral("background-color: rgb(255, 255, 0);");
const QString kRed = QStringLiteral("background-color: rgb(255, 0, 0);");
} // namespace

Q_DECLARE_METATYPE(CameraFault)

class tst_Gluebox : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        qRegisterMetaType<cv::Mat>("cv::Mat");
        StationFonts::install();
    }

    void faultyCamera_data()
    {
        QTest::addColumn<CameraFault>("fault");
        QTest::addColumn<QByteArray>("camera");   // the faulty one's camsim line
        QTest::addColumn<QByteArray>("userIds");  // the settings that bind it
        QTest::newRow("Basler at 1# refusing Line4")
            << CameraFault::NoRejectOutput
            << QByteArray("Basler|Basler|2|USB3|728|544|Mono8|no-Line4,no-LineDebouncerTime")
            << QByteArray("USERID1=2");
        QTest::newRow("Balluff at 2# failing its first open")
            << CameraFault::OpenFailsOnce
            << QByteArray("Balluff|Balluff|3|GigE|728|544|BGR8|open-fails-once")
            << QByteArray("USERID2=3");
    }

    void faultyCamera()
    {
        QFETCH(CameraFault, fault);
        QFETCH(QByteArray, camera);
        QFETCH(QByteArray, userIds);
        const int faulty = fault == CameraFault::NoRejectOutput ? 0 : 1;
        TempStation station; // the working directory is its bin/ until the row ends
        QVERIFY(WorkingStation::layOut(station));
        const QByteArray hik = "HIK|Hikrobot|255|GigE|728|544|Mono8|";
        QVERIFY(TempStation::write(QStringLiteral("../conf/camsim.txt"),
                                   "CAMERA=" + (faulty == 0 ? camera : hik) + "\nCAMERA="
                                       + (faulty == 0 ? hik : camera)
                                       + "\nRATE=600\nSHOTS=3\nNG_SHARE=0.1\nSOURCE=generated\nSEED=1\nDOTS=5\n"));
        QByteArray settings = TempStation::read(QStringLiteral("../conf/conf.txt"));
        settings.replace(userIds.left(8) + "255", userIds);
        QVERIFY(TempStation::write(QStringLiteral("../conf/conf.txt"), settings));

        PlcAddrMap addr;
        QVERIFY(readPlcAddrMap(addr));
        QString error;
        const std::unique_ptr<PlcSimulator> plc = startPlc(addr, &error);
        if (!plc)
            QSKIP(qPrintable(QStringLiteral("no PLC simulator on this machine: ") + error));

        AnsweredMessages messages;
        const uint64_t firstProduct = g_product_account[faulty].lastProduct() + 1;
        {
            Gluebox window;
            QVERIFY(plc->coil(addr.WORK));
            const QByteArray n = QByteArray::number(faulty + 1);
            QLabel *work = widget(window, ("cam_work_" + n).constData());
            QLabel *trouble = widget(window, "label_trouble");
            if (fault == CameraFault::NoRejectOutput) {
                // Open and inspecting, never shown as working.
                QVERIFY(g_cameras[0].opened);
                QCOMPARE(work->styleSheet(), kRed);
                QVERIFY(!widget<QWidget>(window, "toolButton_cam_1")->styleSheet().contains("_yes"));
                QVERIFY(!trouble->isHidden());
                QCOMPARE(trouble->text(), QStringLiteral("Camera 1# cannot eject: its output Line4 was refused."));
            } else {
                // Its user ID could not be read: no position until a later read binds it.
                QVERIFY(!g_cameras[1].found);
                QCOMPARE(work->styleSheet(), kYellow);
                QTRY_VERIFY_WITH_TIMEOUT(g_cameras[1].opened, StationControl::kFirstCameraRetryMs + 5000);
                QCOMPARE(work->styleSheet(), kGreen);
                QVERIFY(trouble->isHidden());
            }
            QTRY_VERIFY_WITH_TIMEOUT(window.m_check_count[0] >= 20 && window.m_check_count[1] >= 20, 30000);

            LineSimulator &line = window.m_simulation->line();
            int cam[2];
            LineSimulator::Counters before[2];
            int ngBefore[2];
            for (int p = 0; p < 2; ++p) {
                cam[p] = window.m_simulation->cameraIndexOf(g_cameras[p]);
                QVERIFY(cam[p] >= 0);
                before[p] = line.counters(cam[p]);
                ngBefore[p] = window.m_ng[p];
            }
            QTRY_VERIFY_WITH_TIMEOUT(line.counters(cam[0]).ngProducts >= before[0].ngProducts + 8
                                         && line.counters(cam[1]).ngProducts >= before[1].ngProducts + 8,
                                     40000);
            for (int p = 0; p < 2; ++p) {
                const LineSimulator::Counters now = line.counters(cam[p]);
                const int ng = now.ngProducts - before[p].ngProducts;
                const QByteArray where = QStringLiteral("camera %1#: ng %2, counted ng %3, ejected right %4, missed %5, wrong %6")
                                             .arg(p + 1).arg(ng).arg(window.m_ng[p] - ngBefore[p])
                                             .arg(now.correctEjections - before[p].correctEjections)
                                             .arg(now.missedEjections - before[p].missedEjections)
                                             .arg(now.wrongEjections - before[p].wrongEjections)
                                             .toUtf8();
                qInfo("%s", where.constData());
                // Every camera inspects: its counters show bad boxes (a loaded machine may
                // judge some too late, or not at all).
                QVERIFY2(window.m_ng[p] > ngBefore[p], where);
                if (fault == CameraFault::NoRejectOutput && p == 0) {
                    QVERIFY2(now.correctEjections == before[p].correctEjections, where);
                } else {
                    QVERIFY2(now.correctEjections > before[p].correctEjections, where);
                    QVERIFY2(now.missedEjections - before[p].missedEjections <= std::max(1, ng / 10), where);
                }
            }
            // Nothing claims that a box of the camera without a reject output was ejected.
            if (fault == CameraFault::NoRejectOutput)
                for (uint64_t p = firstProduct; p <= g_product_account[0].lastProduct(); ++p)
                    QVERIFY2(!g_product_account[0].outcome(p).rejected, qPrintable(QString::number(p)));
            window.OnExit();
            QVERIFY(messages.shown.isEmpty());
        }
        plc->stop();

        const QByteArray log = TempStation::readLogs(station.path(QStringLiteral("data/log")));
        if (fault == CameraFault::NoRejectOutput) {
            QCOMPARE(linesWith(log, "Camera 1# cannot eject: its output Line4 was refused."), 1);
        } else {
            QCOMPARE(linesWith(log, "Camera Balluff, device 0 could not be opened to read its user ID"), 1);
            QCOMPARE(linesWith(log, "Camera 2# (Balluff, user ID 3) opened after 2 tries."), 1);
        }
    }
};

QTEST_MAIN(tst_Gluebox)
#include "tst_camerafaults.moc"
