// writeStatistics as the shift change calls it: kick counts from the PLC through g_modbus,
// opened positions from g_cameras.
#include "StdoutCapture.h"
#include "TempStation.h"

#include "CameraSlot.h"
#include "ModbusLink.h"
#include "PlcSimulator.h"
#include "PlcState.h"
#include "PlcStatistics.h"
#include "StationPaths.h"

#include <QTextCodec>
#include <QtTest>

#include <memory>

namespace {

PlcAddrMap addressMap()
{
    PlcAddrMap a;
    a.KICK1 = 100;
    a.KICK2 = 102;
    a.KICK3 = 0;     // not configured
    a.KICK4 = 106;
    a.QUANTITY = 110;
    a.ALARM = 120;
    return a;
}

QString statistic(int position)
{
    return QTextCodec::codecForName("GBK")->toUnicode(TempStation::read(StationPaths::statisticFile(position)));
}

const QString kUnreachableRates = QStringLiteral("剔除率:0.00000%      合格率:100.00000%");

} // namespace

class TstPlcStatistics : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void kicksReadFromThePlc();
    void unconfiguredKickPairCountsZero();
    void unreachablePlc_data();
    void unreachablePlc();
    void onlyOpenedCameras();

private:
    std::unique_ptr<PlcSimulator> m_sim;
    std::unique_ptr<ModbusLink> m_link;
};

void TstPlcStatistics::initTestCase()
{
    PlcSimulator::Options options;
    options.boxesPerSecond = 0;
    m_sim = std::make_unique<PlcSimulator>(addressMap(), QVector<PlcSimulator::Parameter>(), options);
    QString error;
    if (!m_sim->openPseudoTerminal(&error))
        QSKIP(qPrintable(QStringLiteral("no pseudo-terminal on this machine: ") + error));
    QVERIFY(m_sim->start());
    m_link = std::make_unique<ModbusLink>();
    QVERIFY(m_link->openLink(m_sim->devicePath()));
}

void TstPlcStatistics::cleanupTestCase()
{
    if (m_sim)
        m_sim->stop();
}

void TstPlcStatistics::init()
{
    g_modbus = m_link.get();
    g_plc_addr = addressMap();
    g_plc_setup_open = false;
    g_last_shift = 1;   // no day header in these tests
    for (int k = 0; k < 4; ++k)
        g_cameras[k].opened = true;
    m_sim->setAnswering(true);
    m_sim->setPair(100, 25);
    m_sim->setPair(102, 70000);
    m_sim->setPair(106, 0);
}

void TstPlcStatistics::cleanup()
{
    g_modbus = nullptr;
    g_plc_addr.clear();
    g_plc_setup_open = false;
    for (int k = 0; k < 4; ++k)
        g_cameras[k] = CameraSlot();
}

void TstPlcStatistics::kicksReadFromThePlc()
{
    TempStation station;
    writeStatistics(1000, 2);
    QCOMPARE(statistic(0), QStringLiteral("C     总产量:0000001000      剔除率:2.50000%      合格率:97.50000%   \n"));
    // 70000 = 1 x 65536 + 4464: both words of the pair count.
    QVERIFY(statistic(1).contains(QStringLiteral("剔除率:7000.00000%")));
    QVERIFY(statistic(3).contains(kUnreachableRates));
    QCOMPARE(g_last_shift, 2);
}

void TstPlcStatistics::unconfiguredKickPairCountsZero()
{
    TempStation station;
    StdoutCapture out;
    const int requests = m_sim->requestCount();
    writeStatistics(1000, 0);
    QVERIFY(statistic(2).contains(kUnreachableRates));
    QCOMPARE(m_sim->requestCount(), requests + 3);   // KICK1, KICK2, KICK4
    QVERIFY(!out.text().contains("camera 3#"));   // not configured is not a failure
}

void TstPlcStatistics::unreachablePlc_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("no link yet") << "null";
    QTest::newRow("link not connected") << "unconnected";
    QTest::newRow("PLC not answering") << "silent";
    QTest::newRow("PLC dialog has the line") << "dialog";
}

void TstPlcStatistics::unreachablePlc()
{
    QFETCH(QString, how);
    TempStation station;
    ModbusLink unconnected;
    unconnected.openLink(QStringLiteral("/dev/gluebox-no-such-port"));
    if (how == QLatin1String("null"))
        g_modbus = nullptr;
    else if (how == QLatin1String("unconnected"))
        g_modbus = &unconnected;
    else if (how == QLatin1String("silent"))
        m_sim->setAnswering(false);
    else
        g_plc_setup_open = true;
    const int requests = m_sim->requestCount();

    StdoutCapture out;
    writeStatistics(1000, 1);
    QCOMPARE(statistic(0), QStringLiteral("B     总产量:0000001000      剔除率:0.00000%      合格率:100.00000%   \n"));
    QVERIFY(statistic(1).contains(kUnreachableRates));
    QVERIFY(statistic(3).contains(kUnreachableRates));
    // The line can't tell an unread count from no kicks, so the failure is reported.
    QVERIFY(out.text().contains("Statistics: kick count of camera 1# not read from the PLC, written as 0"));
    if (how == QLatin1String("dialog"))
        QCOMPARE(m_sim->requestCount(), requests);   // the dialog keeps the line to itself
}

void TstPlcStatistics::onlyOpenedCameras()
{
    TempStation station;
    g_cameras[0].opened = false;
    g_cameras[2].opened = false;
    g_cameras[2].found = true;
    writeStatistics(1000, 0);
    QVERIFY(!QFile::exists(StationPaths::statisticFile(0)));
    QVERIFY(QFile::exists(StationPaths::statisticFile(1)));
    QVERIFY(!QFile::exists(StationPaths::statisticFile(2)));
    QVERIFY(QFile::exists(StationPaths::statisticFile(3)));

    writeStatistics(0, 1);   // a total of 0 writes nothing
    QCOMPARE(statistic(1).count(QLatin1Char('\n')), 1);
    QCOMPARE(g_last_shift, 1);
}

QTEST_GUILESS_MAIN(TstPlcStatistics)
#include "tst_plcstatistics.moc"
