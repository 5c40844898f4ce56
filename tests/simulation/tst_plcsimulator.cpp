// The PLC simulator as the station sees it: through a ModbusLink over a pseudo-terminal,
// in-process and as the plcsim program.
#include "ModbusLink.h"
#include "PlcSimulator.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QtTest>

#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>

namespace {

constexpr int kShift = 10;
constexpr int kWork = 11;
constexpr int kNoKick = 12;
constexpr int kReset = 14;
constexpr int kQuantity = 110;
constexpr int kAlarm = 120;
constexpr int kDelay = 40010;

PlcAddrMap addressMap()
{
    PlcAddrMap a;
    a.KICK1 = 100;
    a.KICK2 = 102;
    a.KICK3 = 104;
    a.KICK4 = 0;   // not configured
    a.QUANTITY = kQuantity;
    a.ALARM = kAlarm;
    a.SHIFT = kShift;
    a.WORK = kWork;
    a.NO_KICK = kNoKick;
    a.DEBUG = 13;
    a.RESET = kReset;
    return a;
}

const char kModbusTxt[] = "KICK1=100\nKICK2=102\nKICK3=104\nKICK4=106\nQUANTITY=110\nALARM=120\n"
                          "SHIFT=10\nWORK=11\nNO_KICK=12\nDEBUG=13\nRESET=14\n";

} // namespace

class TstPlcSimulator : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();

    void countsOnlyWhileWorking();
    void quantityCarriesIntoHighWord();
    void noKickModeStopsKicks();
    void shiftPulseStartsNewShift();
    void resetPulseLogged();
    void alarmRaisedAndClearedByStation_data();
    void alarmRaisedAndClearedByStation();
    void writesLogged();
    void commands_data();
    void commands();
    void anyAddressOption();
    void parametersFromPlcTxt();
    void program();
    void programRefusesUnreachableAddresses_data();
    void programRefusesUnreachableAddresses();
    void lineTiming_data();
    void lineTiming();

private:
    uint32_t readPair(int addr);
    QStringList takeLog();
    // The simulator logs on its serving thread, just after it has answered.
    bool logged(const QString &text);

    std::unique_ptr<PlcSimulator> m_sim;
    ModbusLink m_link;
    std::mutex m_logMutex;
    QStringList m_log;
};

void TstPlcSimulator::initTestCase()
{
    PlcSimulator::Options options;
    options.boxesPerSecond = 0;
    options.rejectShare = {{0.5, 0.0, 1.0, 0.5}};
    m_sim = std::make_unique<PlcSimulator>(addressMap(), QVector<PlcSimulator::Parameter>{
                                               {QStringLiteral("Delay"), kDelay, 120}},
                                           options);
    m_sim->setLogger([this](const QString &line) {
        std::lock_guard<std::mutex> lock(m_logMutex);
        m_log << line;
    });
    QString error;
    if (!m_sim->openPseudoTerminal(&error))
        QSKIP(qPrintable(QStringLiteral("no pseudo-terminal on this machine: ") + error));
    QVERIFY(m_sim->start());
    QVERIFY(m_link.openLink(m_sim->devicePath()));
}

void TstPlcSimulator::cleanupTestCase()
{
    if (m_sim)
        m_sim->stop();
}

void TstPlcSimulator::init()
{
    m_sim->setBoxesPerSecond(0);
    m_sim->setAnswering(true);
    QCOMPARE(m_link.writeBit(kWork, 0), 1);
    QCOMPARE(m_link.writeBit(kNoKick, 0), 1);
    for (int a : {kQuantity, 100, 102, 104})
        m_sim->setPair(a, 0);
    takeLog();
}

uint32_t TstPlcSimulator::readPair(int addr)
{
    uint16_t pair[2] = {0, 0};
    if (m_link.readRegisters(addr, 2, pair) != 2)
        return 0xFFFFFFFFu;
    return uint32_t(pair[1]) << 16 | pair[0];
}

QStringList TstPlcSimulator::takeLog()
{
    std::lock_guard<std::mutex> lock(m_logMutex);
    QStringList log;
    log.swap(m_log);
    return log;
}

bool TstPlcSimulator::logged(const QString &text)
{
    QElapsedTimer timer;
    timer.start();
    do {
        {
            std::lock_guard<std::mutex> lock(m_logMutex);
            if (m_log.join(QLatin1Char('\n')).contains(text))
                return true;
        }
        QTest::qWait(10);
    } while (timer.elapsed() < 5000);
    qWarning("not in the log: %s", qPrintable(text));
    return false;
}

void TstPlcSimulator::countsOnlyWhileWorking()
{
    m_sim->setBoxesPerSecond(500);
    QTest::qWait(200);
    QCOMPARE(readPair(kQuantity), 0u);   // paused: nothing counts

    QCOMPARE(m_link.writeBit(kWork, 1), 1);
    QTRY_VERIFY_WITH_TIMEOUT(readPair(kQuantity) >= 100, 10000);
    QCOMPARE(m_link.writeBit(kWork, 0), 1);
    const uint32_t total = readPair(kQuantity);
    QTest::qWait(200);
    QCOMPARE(readPair(kQuantity), total);

    // Share 0.5; a half box left over from an earlier test may round either way.
    QVERIFY(std::abs(2 * int64_t(readPair(100)) - int64_t(total)) <= 1);
    QCOMPARE(readPair(102), 0u);          // share 0
    QCOMPARE(readPair(104), total);       // share 1
    QVERIFY(logged(QStringLiteral("machine running")));
}

void TstPlcSimulator::quantityCarriesIntoHighWord()
{
    m_sim->setPair(kQuantity, 65530);
    m_sim->setBoxesPerSecond(500);
    QCOMPARE(m_link.writeBit(kWork, 1), 1);
    QTRY_VERIFY_WITH_TIMEOUT(readPair(kQuantity) > 65540, 10000);
    QCOMPARE(m_link.writeBit(kWork, 0), 1);
    QCOMPARE(int(m_sim->reg(kQuantity + 1)), 1);
}

void TstPlcSimulator::noKickModeStopsKicks()
{
    m_sim->setBoxesPerSecond(500);
    QCOMPARE(m_link.writeBit(kNoKick, 1), 1);
    QCOMPARE(m_link.writeBit(kWork, 1), 1);
    QTRY_VERIFY_WITH_TIMEOUT(readPair(kQuantity) >= 50, 10000);
    QCOMPARE(m_link.writeBit(kWork, 0), 1);
    QCOMPARE(readPair(100), 0u);
    QCOMPARE(readPair(104), 0u);
}

void TstPlcSimulator::shiftPulseStartsNewShift()
{
    m_sim->setPair(kQuantity, 70000);
    m_sim->setPair(100, 25);
    QCOMPARE(readPair(kQuantity), 70000u);
    QCOMPARE(m_link.writeBit(kShift, 1), 1);
    QCOMPARE(readPair(kQuantity), 0u);
    QCOMPARE(readPair(100), 0u);
    uint8_t bit = 9;
    QCOMPARE(m_link.readBits(kShift, 1, &bit), 1);
    QCOMPARE(bit, uint8_t(0));   // acknowledged by the machine
    QVERIFY(logged(QStringLiteral("SHIFT pulse: shift closed at 70000 boxes")));
}

void TstPlcSimulator::resetPulseLogged()
{
    QCOMPARE(m_link.writeBit(kReset, 1), 1);
    QCOMPARE(m_link.writeBit(kReset, 0), 1);
    QVERIFY(logged(QStringLiteral("RESET pulse begins")));
    QVERIFY(logged(QStringLiteral("RESET pulse ends after")));
}

void TstPlcSimulator::alarmRaisedAndClearedByStation_data()
{
    QTest::addColumn<int>("code");
    QTest::newRow("camera 1# lost a result") << 1;
    QTest::newRow("reconnect camera 1#") << 7;
    QTest::newRow("reconnect camera 2#") << 8;
}

void TstPlcSimulator::alarmRaisedAndClearedByStation()
{
    QFETCH(int, code);
    QCOMPARE(m_sim->execute(QStringLiteral("alarm %1").arg(code)), QStringLiteral("alarm %1 raised").arg(code));
    uint16_t pair[2] = {9, 9};
    QCOMPARE(m_link.readRegisters(kAlarm, 2, pair), 2);
    QCOMPARE(int(pair[0]), code);
    QCOMPARE(int(pair[1]), 0);

    const uint16_t zeros[2] = {0, 0};
    QCOMPARE(m_link.writeRegisters(kAlarm, 2, zeros), 2);
    QCOMPARE(m_sim->alarm(), 0);
    QVERIFY(logged(QStringLiteral("alarm %1 cleared by the station").arg(code)));
}

void TstPlcSimulator::writesLogged()
{
    const uint16_t pair[2] = {4464, 1};
    QCOMPARE(m_link.writeRegisters(kDelay, 2, pair), 2);
    QCOMPARE(m_link.writeBit(kWork, 1), 1);
    QCOMPARE(m_link.writeBit(kWork, 0), 1);
    QVERIFY(logged(QStringLiteral("write registers 40010..40011 = 4464 1 (Delay = 70000)")));
    QVERIFY(logged(QStringLiteral("write coil 11 WORK = 1")));
    QVERIFY(logged(QStringLiteral("write coil 11 WORK = 0")));
    QVERIFY(logged(QStringLiteral("machine paused")));
    takeLog();
    // Reads are not logged: the station polls every second.
    uint16_t in[2];
    m_link.readRegisters(kQuantity, 2, in);
    QVERIFY(takeLog().isEmpty());
}

void TstPlcSimulator::commands_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("reply");
    QTest::addColumn<int>("addr");
    QTest::addColumn<int>("pairValue");   // -1: not checked

    QTest::newRow("quantity") << "quantity 70000" << "QUANTITY = 70000" << kQuantity << 70000;
    QTest::newRow("kick") << "kick 2 17" << "KICK2 = 17" << 102 << 17;
    QTest::newRow("unconfigured kick") << "kick 4 17" << "KICK4 is not configured in modbus.txt" << 0 << -1;
    QTest::newRow("kick position 0") << "kick 0 1" << "unknown command: kick 0 1 (type help)" << 0 << -1;
    QTest::newRow("set pair at a small address") << "set 120 3" << "registers 120..121 = 3" << kAlarm << 3;
    QTest::newRow("get pair") << "get 120" << "registers 120..121 = 0" << kAlarm << 0;
    QTest::newRow("set plc.txt pair") << "set 40010 -1" << "registers 40010..40011 = -1" << kDelay << -1;
    QTest::newRow("get coil") << "get 11" << "coil 11 = 0" << 0 << -1;
    QTest::newRow("work from the panel") << "work 1" << "WORK = 1 (set at the machine)" << 0 << -1;
    QTest::newRow("rate") << "rate 2.5" << "2.5 boxes per second" << 0 << -1;
    QTest::newRow("negative rate") << "rate -1" << "unknown command: rate -1 (type help)" << 0 << -1;
    QTest::newRow("reject share over 1") << "reject 1.5" << "unknown command: reject 1.5 (type help)" << 0 << -1;
    QTest::newRow("clear") << "  clear " << "alarm cleared" << kAlarm << 0;
    QTest::newRow("alarm out of range") << "alarm 70000" << "unknown command: alarm 70000 (type help)" << 0 << -1;
    QTest::newRow("empty line") << "   " << "" << 0 << -1;
    QTest::newRow("unknown") << "frobnicate" << "unknown command: frobnicate (type help)" << 0 << -1;
}

void TstPlcSimulator::commands()
{
    QFETCH(QString, command);
    QFETCH(QString, reply);
    QFETCH(int, addr);
    QFETCH(int, pairValue);
    if (QTest::currentDataTag() == QLatin1String("get pair"))
        m_sim->setPair(kAlarm, 0);
    QCOMPARE(m_sim->execute(command), reply);
    if (pairValue != -1 || QTest::currentDataTag() == QLatin1String("set plc.txt pair"))
        QCOMPARE(static_cast<int32_t>(readPair(addr)), pairValue);
    if (QTest::currentDataTag() == QLatin1String("work from the panel")) {
        uint8_t bit = 0;
        QCOMPARE(m_link.readBits(kWork, 1, &bit), 1);
        QCOMPARE(bit, uint8_t(1));
    }
}

void TstPlcSimulator::anyAddressOption()
{
    uint16_t pair[2];
    QCOMPARE(m_link.readRegisters(3000, 2, pair), -1);
    QVERIFY(logged(QStringLiteral("refused registers 3000..3001: not configured")));

    PlcSimulator::Options options;
    options.anyAddress = true;
    PlcSimulator open(PlcAddrMap(), {}, options);
    QVERIFY(open.openPseudoTerminal());
    QVERIFY(open.start());
    ModbusLink link;
    QVERIFY(link.openLink(open.devicePath()));
    const uint16_t out[2] = {1, 2};
    QCOMPARE(link.writeRegisters(3000, 2, out), 2);
    QCOMPARE(link.writeBit(0, 1), 1);
    QCOMPARE(int(open.reg(3001)), 2);
    QVERIFY(open.coil(0));
    open.stop();
}

void TstPlcSimulator::parametersFromPlcTxt()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("plc.txt"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QTextCodec::codecForName("GBK")->fromUnicode(QStringLiteral("剔除延时(ms)|40010|120|gbk\n")));
    file.write(QStringLiteral("空盒检测|20|1|utf-8\r\n").toUtf8());
    file.write("three|40020|5\n\nfive|40030|5|a|b\nDelay|40040|70000|ms");
    file.close();

    const QVector<PlcSimulator::Parameter> params = PlcSimulator::readParameters(path);
    QCOMPARE(params.size(), 3);
    QCOMPARE(params[0].name, QStringLiteral("剔除延时(ms)"));
    QCOMPARE(params[0].address, 40010);
    QCOMPARE(params[1].name, QStringLiteral("空盒检测"));
    QCOMPARE(params[1].value, 1);
    QCOMPARE(params[2].address, 40040);

    // The PLC starts with the values last written.
    PlcSimulator sim(PlcAddrMap(), params, PlcSimulator::Options());
    QCOMPARE(sim.pair(40040), 70000u);
    QCOMPARE(int(sim.reg(40040)), 4464);
    QVERIFY(sim.coil(20));
    QVERIFY(sim.addressSummary().contains(QStringLiteral("空盒检测=20")));
    QVERIFY(PlcSimulator::readParameters(dir.filePath(QStringLiteral("missing.txt"))).isEmpty());
}

void TstPlcSimulator::program()
{
    QTemporaryDir station;
    QVERIFY(station.isValid());
    QDir(station.path()).mkpath(QStringLiteral("bin"));
    QDir(station.path()).mkpath(QStringLiteral("conf"));
    QFile modbus(station.filePath(QStringLiteral("conf/modbus.txt")));
    QVERIFY(modbus.open(QIODevice::WriteOnly));
    modbus.write(kModbusTxt);
    modbus.close();
    const QString control = station.filePath(QStringLiteral("control.txt"));
    QFile(control).open(QIODevice::WriteOnly);
    const QString link = station.filePath(QStringLiteral("plc-port"));

    QProcess help;
    help.start(QStringLiteral(PLCSIM_EXECUTABLE), {QStringLiteral("--help")});
    QVERIFY(help.waitForFinished(10000));
    QVERIFY(help.readAllStandardOutput().contains("alarm N"));

    QProcess sim;
    sim.start(QStringLiteral(PLCSIM_EXECUTABLE),
              {QStringLiteral("--station"), station.path(), QStringLiteral("--control"), control,
               QStringLiteral("--link"), link, QStringLiteral("--rate"), QStringLiteral("0")});
    QVERIFY(sim.waitForStarted(10000));
    QByteArray out;
    QRegularExpression deviceLine(QStringLiteral("PLC device: (\\S+)\n"));
    QTRY_VERIFY_WITH_TIMEOUT((out += sim.readAllStandardOutput(), deviceLine.match(QString::fromLocal8Bit(out)).hasMatch()), 10000);
    const QString device = deviceLine.match(QString::fromLocal8Bit(out)).captured(1);
    // The settings may come in a later read than the device line.
    QTRY_VERIFY_WITH_TIMEOUT((out += sim.readAllStandardOutput(), out.contains("QUANTITY=110")), 10000);
    QCOMPARE(QFileInfo(link).symLinkTarget(), device);

    ModbusLink plc;
    QVERIFY(plc.openLink(link));
    uint16_t pair[2] = {0, 0};
    sim.write("alarm 7\n");
    QTRY_VERIFY_WITH_TIMEOUT(plc.readRegisters(kAlarm, 2, pair) == 2 && pair[0] == 7, 10000);

    QFile ctl(control);
    QVERIFY(ctl.open(QIODevice::Append));
    ctl.write("alarm 8\n");
    ctl.close();
    QTRY_VERIFY_WITH_TIMEOUT(plc.readRegisters(kAlarm, 2, pair) == 2 && pair[0] == 8, 10000);

    QCOMPARE(plc.writeBit(kWork, 1), 1);
    QTRY_VERIFY_WITH_TIMEOUT((out += sim.readAllStandardOutput(), out.contains("write coil 11 WORK = 1")), 10000);

    sim.write("mute\n");
    QTRY_VERIFY_WITH_TIMEOUT((out += sim.readAllStandardOutput(), out.contains("not answering")), 10000);
    QCOMPARE(plc.readRegisters(kAlarm, 2, pair), -1);

    sim.write("quit\n");
    QVERIFY(sim.waitForFinished(10000));
    QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.exitCode(), 0);
    QVERIFY(!QFileInfo::exists(link) && !QFileInfo(link).isSymLink());
}

void TstPlcSimulator::programRefusesUnreachableAddresses_data()
{
    QTest::addColumn<QByteArray>("modbusTxt");
    QTest::addColumn<QByteArray>("plcTxt");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("refusal");   // empty: plcsim starts
    QTest::addColumn<QByteArray>("started");   // a line it prints when it starts
    QTest::newRow("coil 65535, pair 65534") << QByteArray("WORK=65535\nQUANTITY=65534\n")
                                           << QByteArray("Delay|65534|1|ms\n") << QStringList()
                                           << QByteArray() << QByteArray("Line timing: 9600 baud, 10 ms scan.\n");
    QTest::newRow("coil 65536") << QByteArray("WORK=65536\n") << QByteArray() << QStringList()
                                << QByteArray("plcsim: modbus.txt: WORK=65536 is beyond the Modbus coils (1 to 65535)\n") << QByteArray();
    QTest::newRow("pair 65535") << QByteArray("ALARM=65535\n") << QByteArray() << QStringList()
                                << QByteArray("plcsim: modbus.txt: ALARM=65535 is beyond the Modbus register pairs (1 to 65534)\n") << QByteArray();
    QTest::newRow("near INT_MAX") << QByteArray("KICK1=2147483647\nSHIFT=2147483646\n") << QByteArray()
                                  << QStringList()
                                  << QByteArray("plcsim: modbus.txt: KICK1=2147483647 is beyond the Modbus register pairs (1 to 65534)\n"
                                                "plcsim: modbus.txt: SHIFT=2147483646 is beyond the Modbus coils (1 to 65535)\n") << QByteArray();
    QTest::newRow("plc.txt pair") << QByteArray() << QByteArray("Delay|70000|5|ms\n") << QStringList()
                                  << QByteArray("plcsim: plc.txt: Delay at 70000 is beyond the Modbus register pairs (40000 to 65534)\n") << QByteArray();
    QTest::newRow("rate inf") << QByteArray() << QByteArray() << QStringList{"--rate", "inf"}
                              << QByteArray("plcsim: --rate needs a number of boxes per second (0 to 1000000)\n") << QByteArray();
    QTest::newRow("share nan") << QByteArray() << QByteArray() << QStringList{"--reject", "nan"}
                               << QByteArray("plcsim: a reject share is a number from 0 to 1\n") << QByteArray();
    QTest::newRow("instant") << QByteArray() << QByteArray() << QStringList{"--instant"} << QByteArray()
                             << QByteArray("Line timing: instant, no delay.\n");
    QTest::newRow("baud 0 takes no scan") << QByteArray() << QByteArray() << QStringList{"--baud", "0", "--scan-ms", "50"}
                                          << QByteArray() << QByteArray("Line timing: instant, no delay.\n");
    QTest::newRow("lowest baud, no scan") << QByteArray() << QByteArray() << QStringList{"--baud", "300", "--scan-ms", "0"}
                                          << QByteArray() << QByteArray("Line timing: 300 baud, 0 ms scan.\n");
    const QByteArray badBaud("plcsim: --baud needs 0 (instant) or a whole number from 300 to 1000000\n");
    const QByteArray badScan("plcsim: --scan-ms needs a whole number of milliseconds from 0 to 60000\n");
    QTest::newRow("baud 299") << QByteArray() << QByteArray() << QStringList{"--baud", "299"} << badBaud << QByteArray();
    QTest::newRow("baud over the top") << QByteArray() << QByteArray() << QStringList{"--baud", "1000001"} << badBaud << QByteArray();
    QTest::newRow("baud not whole") << QByteArray() << QByteArray() << QStringList{"--baud", "9600.5"} << badBaud << QByteArray();
    QTest::newRow("negative scan") << QByteArray() << QByteArray() << QStringList{"--scan-ms=-1"} << badScan << QByteArray();
    QTest::newRow("scan over a minute") << QByteArray() << QByteArray() << QStringList{"--scan-ms", "60001"} << badScan << QByteArray();
    QTest::newRow("instant with a scan") << QByteArray() << QByteArray() << QStringList{"--instant", "--scan-ms", "10"}
                                         << QByteArray("plcsim: --instant takes no --baud or --scan-ms\n") << QByteArray();
}

void TstPlcSimulator::programRefusesUnreachableAddresses()
{
    QFETCH(QByteArray, modbusTxt);
    QFETCH(QByteArray, plcTxt);
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, refusal);
    QFETCH(QByteArray, started);
    QTemporaryDir station;
    QDir(station.path()).mkpath(QStringLiteral("bin"));
    QDir(station.path()).mkpath(QStringLiteral("conf"));
    for (const auto &file : {std::make_pair(QStringLiteral("conf/modbus.txt"), modbusTxt),
                             std::make_pair(QStringLiteral("conf/plc.txt"), plcTxt)}) {
        QFile f(station.filePath(file.first));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(file.second);
    }
    QProcess sim;
    sim.start(QStringLiteral(PLCSIM_EXECUTABLE), QStringList{"--station", station.path()} + arguments);
    QVERIFY(sim.waitForStarted(10000));
    if (refusal.isEmpty()) {
        QByteArray out;
        QTRY_VERIFY_WITH_TIMEOUT((out += sim.readAllStandardOutput(), out.contains(started)), 10000);
        sim.write("quit\n");
        QVERIFY(sim.waitForFinished(10000));
        QCOMPARE(sim.exitCode(), 0);
        return;
    }
    QVERIFY(sim.waitForFinished(10000));
    QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
    QVERIFY2(sim.exitCode() == 2, sim.readAllStandardOutput().constData());
    QVERIFY2(sim.readAllStandardError().startsWith(refusal), refusal.constData());
}

void TstPlcSimulator::lineTiming_data()
{
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("scanMs");
    QTest::addColumn<int>("addr");
    QTest::addColumn<int>("result");      // of reading two registers there
    QTest::addColumn<double>("atLeastMs"); // the request's bytes, the scan, the reply's bytes
    QTest::addColumn<bool>("stopMidScan");
    // 8 request bytes, 9 reply bytes (5 for an exception), 10 bits each.
    QTest::newRow("9600 baud, 10 ms scan") << 9600 << 10 << kQuantity << 2 << 170.0 / 9.6 + 10 << false;
    QTest::newRow("exception reply") << 9600 << 10 << 3000 << -1 << 130.0 / 9.6 + 10 << false;
    QTest::newRow("1200 baud, no scan") << 1200 << 0 << kQuantity << 2 << 170.0 / 1.2 << false;
    // Would time out (1 s) if the scan were waited for.
    QTest::newRow("baud 0 is instant, scan or not") << 0 << 2000 << kQuantity << 2 << 0.0 << false;
    QTest::newRow("stop during a long scan") << 9600 << 2000 << kQuantity << -1 << 0.0 << true;
}

void TstPlcSimulator::lineTiming()
{
    QFETCH(int, baud);
    QFETCH(int, scanMs);
    QFETCH(int, addr);
    QFETCH(int, result);
    QFETCH(double, atLeastMs);
    QFETCH(bool, stopMidScan);
    PlcSimulator::Options options;
    options.baud = baud;
    options.scanMs = scanMs;
    PlcSimulator sim(addressMap(), {}, options);
    QVERIFY(sim.openPseudoTerminal());
    QVERIFY(sim.start());
    ModbusLink link;
    QVERIFY(link.openLink(sim.devicePath()));
    uint16_t pair[2] = {0, 0};
    QElapsedTimer timer;
    if (!stopMidScan) {
        timer.start();
        QCOMPARE(link.readRegisters(addr, 2, pair), result);
        const double ms = timer.nsecsElapsed() / 1e6;
        QVERIFY2(ms >= atLeastMs, qPrintable(QStringLiteral("%1 ms").arg(ms)));
        return;
    }
    int got = 0;
    std::thread master([&] { got = link.readRegisters(addr, 2, pair); });
    QTRY_COMPARE(sim.requestCount(), 1);
    timer.start();
    sim.stop();
    const qint64 stopMs = timer.elapsed();
    master.join();
    QVERIFY2(stopMs < scanMs / 2, qPrintable(QStringLiteral("stop() took %1 ms").arg(stopMs)));
    QCOMPARE(got, result);   // never answered
}

QTEST_GUILESS_MAIN(TstPlcSimulator)
#include "tst_plcsimulator.moc"
