// The PLC as a real line meets it, on the whole working station in one process: a PLC
// at 9600 baud with a slow scan, one that restarts, one that comes up after the station,
// one that refuses the total's address. Through each: no verdict waits for the PLC, the
// link comes back by itself with plc.txt written again and work resumed, the alarms are
// read and every occurrence recorded, and the log says what happened.
#include "AlarmRecord.h"
#include "AnsweredMessages.h"
#include "CameraSlot.h"
#include "Gluebox.h"
#include "LineSimulator.h"
#include "PlcAddrMap.h"
#include "PlcSimulator.h"
#include "PlcState.h"
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
enum class PlcFault { Slow, Restarted, LateAtStart, TotalRefused };
} // namespace

Q_DECLARE_METATYPE(PlcFault)

class tst_Gluebox : public QObject
{
    Q_OBJECT

    // The PLC's map and parameters, as the PLC holds them.
    PlcAddrMap m_addr;
    QVector<PlcSimulator::Parameter> m_params;
    QString m_link;

    // A PLC on a new pseudo-terminal behind the station's port name. It holds other
    // parameter values than plc.txt until the station writes them.
    std::unique_ptr<PlcSimulator> startPlc(int scanMs)
    {
        QVector<PlcSimulator::Parameter> stale = m_params;
        for (PlcSimulator::Parameter &p : stale)
            p.value += 1;
        PlcSimulator::Options options;
        options.boxesPerSecond = 10;
        options.baud = 9600;
        options.scanMs = scanMs;
        auto plc = std::make_unique<PlcSimulator>(m_addr, stale, options);
        QString error;
        if (!plc->openPseudoTerminal(&error) || !plc->start())
            qFatal("no pseudo-terminal: %s", qPrintable(error));
        QFile::remove(m_link);
        if (!QFile::link(plc->devicePath(), m_link))
            qFatal("cannot link %s", qPrintable(m_link));
        return plc;
    }

    // plc.txt's register values are in the PLC (coils keep no telling value).
    bool parametersWritten(const PlcSimulator &plc) const
    {
        for (const PlcSimulator::Parameter &p : m_params)
            if (p.address >= PlcSimulator::kFirstRegisterAddress && plc.pair(p.address) != uint32_t(p.value))
                return false;
        return true;
    }

private slots:
    void initTestCase()
    {
        qRegisterMetaType<cv::Mat>("cv::Mat");
        StationFonts::install();
    }

    void plcFault_data()
    {
        QTest::addColumn<PlcFault>("fault");
        QTest::newRow("9600 baud, 35 ms scan") << PlcFault::Slow;
        QTest::newRow("PLC restarted 15 s later") << PlcFault::Restarted;
        QTest::newRow("PLC up 8 s after the station") << PlcFault::LateAtStart;
        QTest::newRow("total refused; alarms 3, 0, 3, 7") << PlcFault::TotalRefused;
    }

    void plcFault()
    {
        QFETCH(PlcFault, fault);
        g_alarm_history.clear();
        TempStation station; // the working directory is its bin/ until the row ends
        QVERIFY(WorkingStation::layOut(station));
        QVERIFY(readPlcAddrMap(m_addr));
        m_params = PlcSimulator::readParameters(QStringLiteral("../conf/plc.txt"));
        QVERIFY(!m_params.isEmpty());
        if (fault == PlcFault::TotalRefused) {
            // The station asks for the total where this PLC has nothing: an exception reply.
            QByteArray map = TempStation::read(QStringLiteral("../conf/modbus.txt"));
            map.replace("QUANTITY=110", "QUANTITY=130");
            QVERIFY(TempStation::write(QStringLiteral("../conf/modbus.txt"), map));
        }
        m_link = station.path(QStringLiteral("plc-port"));
        qputenv("GLUEBOX_PLC_PORT", m_link.toLocal8Bit());
        const int scanMs = fault == PlcFault::Slow ? 35 : 10;
        std::unique_ptr<PlcSimulator> plc;
        if (fault != PlcFault::LateAtStart)
            plc = startPlc(scanMs);

        AnsweredMessages messages;
        {
            Gluebox window;
            QLabel *plcLabel = widget(window, "label_plc");
            LineSimulator &line = window.m_simulation->line();
            if (fault == PlcFault::LateAtStart) {
                QCOMPARE(plcLabel->text(), QStringLiteral("PLC断开"));
                QTest::qWait(8000);
                QCOMPARE(window.m_check_count[0], 0); // the line waits for work
                plc = startPlc(scanMs);
                // The next try, at most the longest back-off later.
                QTRY_VERIFY_WITH_TIMEOUT(plc->coil(m_addr.WORK), (StationControl::kMaxRetryTicks + 4) * 1000);
                QCOMPARE(plcLabel->text(), QStringLiteral("PLC在线"));
            }
            QVERIFY(plc->coil(m_addr.WORK));
            QVERIFY(parametersWritten(*plc));
            QTRY_VERIFY_WITH_TIMEOUT(window.m_check_count[0] >= 20 && window.m_check_count[1] >= 20, 30000);

            const LineSimulator::Counters before[2] = {line.counters(0), line.counters(1)};
            const uint64_t unjudgedBefore[2] = {g_product_account[0].unjudged(), g_product_account[1].unjudged()};

            switch (fault) {
            case PlcFault::Slow:
                // Each poll's six reads take about 200 ms of the window's thread here.
                QTest::qWait(30000);
                break;
            case PlcFault::Restarted: {
                plc.reset();
                QTRY_COMPARE_WITH_TIMEOUT(plcLabel->text(), QStringLiteral("PLC断开"), 3000);
                QCOMPARE(plcLabel->styleSheet(), QStringLiteral("background-color: rgb(255, 255, 0);"));
                QTest::qWait(15000);
                plc = startPlc(scanMs);
                QTRY_COMPARE_WITH_TIMEOUT(plcLabel->text(), QStringLiteral("PLC在线"),
                                          (StationControl::kMaxRetryTicks + 3) * 1000);
                QTRY_VERIFY_WITH_TIMEOUT(plc->coil(m_addr.WORK), 2000); // work resumed
                QVERIFY(parametersWritten(*plc));
                break;
            }
            case PlcFault::LateAtStart:
                QTest::qWait(5000);
                break;
            case PlcFault::TotalRefused: {
                QLabel *alarm = widget(window, "label_alarm");
                for (int code : {3, 0, 3}) {
                    plc->setAlarm(code);
                    QTRY_COMPARE_WITH_TIMEOUT(alarm->text(), code ? QStringLiteral("1#相机有剔除") : QStringLiteral("无报警"), 3000);
                }
                QCOMPARE(g_alarm_history.size(), 2);
                plc->setAlarm(7); // camera 1# reconnected at the PLC's request
                QTRY_COMPARE_WITH_TIMEOUT(alarm->text(), QStringLiteral("重连1#相机"), 3000);
                QTRY_COMPARE_WITH_TIMEOUT(plc->alarm(), 0, 2000);
                QTRY_VERIFY_WITH_TIMEOUT(g_cameras[0].opened, 5000);
                QCOMPARE(plcLabel->text(), QStringLiteral("PLC断开")); // the total's read fails
                break;
            }
            }

            // Production went on at both cameras, and no verdict came too late for its
            // box (a loaded machine may miss one now and then).
            QTRY_VERIFY_WITH_TIMEOUT(line.counters(1).correctEjections > before[1].correctEjections + 2, 20000);
            for (int c = 0; c < 2; ++c) {
                const LineSimulator::Counters now = line.counters(c);
                const int products = now.products - before[c].products;
                const int unjudged = int(g_product_account[c].unjudged() - unjudgedBefore[c]);
                const QByteArray where = QStringLiteral("camera %1: products %2, ejected right %3, unjudged %4")
                                             .arg(c + 1).arg(products)
                                             .arg(now.correctEjections - before[c].correctEjections)
                                             .arg(unjudged).toUtf8();
                qInfo("%s", where.constData());
                QVERIFY2(now.correctEjections > before[c].correctEjections, where);
                if (fault != PlcFault::TotalRefused || c == 1) // 1# was reopened
                    QVERIFY2(unjudged <= std::max(3, products / 25), where);
            }
            window.OnExit();
            QVERIFY(!plc->coil(m_addr.WORK));
            QVERIFY(messages.shown.isEmpty());
        }
        plc.reset();

        const QByteArray log = TempStation::readLogs(station.path(QStringLiteral("data/log")));
        switch (fault) {
        case PlcFault::Restarted:
            QCOMPARE(linesWith(log, "PLC link lost: no answer"), 1);
            QCOMPARE(linesWith(log, "PLC link is back."), 1);
            break;
        case PlcFault::LateAtStart:
            QCOMPARE(linesWith(log, "PLC link could not be opened"), 1);
            QCOMPARE(linesWith(log, "PLC connected."), 1);
            QCOMPARE(linesWith(log, "Start to work."), 1);
            break;
        case PlcFault::TotalRefused:
            QCOMPARE(linesWith(log, "Alarm 3 raised: "), 2);
            QCOMPARE(linesWith(log, "The PLC asks to reconnect camera 1#."), 1);
            QCOMPARE(linesWith(log, "PLC link lost"), 0);
            break;
        case PlcFault::Slow:
            QCOMPARE(linesWith(log, "PLC link lost"), 0);
            break;
        }
        QVERIFY(log.trimmed().endsWith("Application exited."));
    }
};

QTEST_MAIN(tst_Gluebox)
#include "tst_plcfaults.moc"
