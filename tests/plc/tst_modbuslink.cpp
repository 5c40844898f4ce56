// The station's Modbus link against the PLC simulator over a real pseudo-terminal pair.
#include "ModbusLink.h"
#include "PlcSimulator.h"
#include "StationPaths.h"
#include "StdoutCapture.h"

#include <QElapsedTimer>
#include <QtTest>

#include <atomic>
#include <memory>
#include <thread>

namespace {

constexpr int kWork = 11;
constexpr int kNoKick = 12;
constexpr int kQuantity = 110;
constexpr int kAlarm = 120;
constexpr int kDelay = 40010;    // a plc.txt register pair
constexpr int kEmptyBox = 20;    // a plc.txt coil

PlcAddrMap addressMap()
{
    PlcAddrMap a;
    a.KICK1 = 100;
    a.KICK2 = 102;
    a.KICK3 = 104;
    a.KICK4 = 106;
    a.QUANTITY = kQuantity;
    a.ALARM = kAlarm;
    a.SHIFT = 10;
    a.WORK = kWork;
    a.NO_KICK = kNoKick;
    a.DEBUG = 13;
    a.RESET = 14;
    return a;
}

} // namespace

class TstModbusLink : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();

    void coilsWrittenAndRead();
    void nonZeroWritesOne_data();
    void nonZeroWritesOne();
    void registerPairSplit_data();
    void registerPairSplit();
    void registerPairRead();
    void unconfiguredAddressFails();
    void addressOutsideModbusRangeStaysOffTheLine_data();
    void addressOutsideModbusRangeStaysOffTheLine();
    void silentPlcTimesOut();
    void twoThreadsAtOnce();
    void stationRestartsOnTheSameLine();
    void missingDevice_data();
    void missingDevice();
    void portFromEnvironment();
    void connectionMessages();

private:
    std::unique_ptr<PlcSimulator> m_sim;
    ModbusLink m_link;
};

void TstModbusLink::initTestCase()
{
    PlcSimulator::Options options;
    options.boxesPerSecond = 0;   // counters move only when a test sets them
    const QVector<PlcSimulator::Parameter> params = {{QStringLiteral("Delay"), kDelay, 120},
                                                     {QStringLiteral("Empty box"), kEmptyBox, 1}};
    m_sim = std::make_unique<PlcSimulator>(addressMap(), params, options);
    QString error;
    if (!m_sim->openPseudoTerminal(&error))
        QSKIP(qPrintable(QStringLiteral("no pseudo-terminal on this machine: ") + error));
    QVERIFY(m_sim->start());
    QVERIFY(m_link.openLink(m_sim->devicePath()));
    QVERIFY(m_link.connected());
    QCOMPARE(m_link.device(), m_sim->devicePath());
}

void TstModbusLink::cleanupTestCase()
{
    if (m_sim)
        m_sim->stop();
}

void TstModbusLink::init()
{
    if (m_sim)
        m_sim->setAnswering(true);
}

void TstModbusLink::coilsWrittenAndRead()
{
    QCOMPARE(m_link.writeBit(kWork, 1), 1);
    QVERIFY(m_sim->coil(kWork));
    QCOMPARE(m_link.writeBit(kNoKick, 0), 1);
    QVERIFY(!m_sim->coil(kNoKick));

    uint8_t bits[5] = {9, 9, 9, 9, 9};
    QCOMPARE(m_link.readBits(10, 5, bits), 5);   // SHIFT, WORK, NO_KICK, DEBUG, RESET
    QCOMPARE(bits[1], uint8_t(1));
    QCOMPARE(bits[2], uint8_t(0));

    m_sim->setCoil(kNoKick, true);
    QCOMPARE(m_link.readBits(kNoKick, 1, bits), 1);
    QCOMPARE(bits[0], uint8_t(1));

    QCOMPARE(m_link.writeBit(kWork, 0), 1);
    QVERIFY(!m_sim->coil(kWork));
}

void TstModbusLink::nonZeroWritesOne_data()
{
    QTest::addColumn<int>("value");
    QTest::newRow("5") << 5;
    QTest::newRow("-1") << -1;
    QTest::newRow("65536") << 65536;
}

void TstModbusLink::nonZeroWritesOne()
{
    QFETCH(int, value);
    m_sim->setCoil(kEmptyBox, false);
    QCOMPARE(m_link.writeBit(kEmptyBox, value), 1);
    QVERIFY(m_sim->coil(kEmptyBox));
    uint8_t bit = 0;
    QCOMPARE(m_link.readBits(kEmptyBox, 1, &bit), 1);
    QCOMPARE(bit, uint8_t(1));
}

void TstModbusLink::registerPairSplit_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("low");
    QTest::addColumn<int>("high");
    QTest::newRow("70000") << 70000 << 4464 << 1;
    QTest::newRow("zero") << 0 << 0 << 0;
    QTest::newRow("largest low word") << 65535 << 65535 << 0;
    QTest::newRow("first high word") << 65536 << 0 << 1;
    QTest::newRow("-1") << -1 << 65535 << 65535;
}

void TstModbusLink::registerPairSplit()
{
    QFETCH(int, value);
    QFETCH(int, low);
    QFETCH(int, high);
    const uint32_t v = static_cast<uint32_t>(value);
    const uint16_t pair[2] = {static_cast<uint16_t>(v & 0xFFFF), static_cast<uint16_t>(v >> 16)};
    QCOMPARE(m_link.writeRegisters(kDelay, 2, pair), 2);
    QCOMPARE(int(m_sim->reg(kDelay)), low);
    QCOMPARE(int(m_sim->reg(kDelay + 1)), high);
    QCOMPARE(static_cast<int32_t>(m_sim->pair(kDelay)), value);
}

void TstModbusLink::registerPairRead()
{
    m_sim->setPair(kQuantity, 123456789);
    uint16_t pair[2] = {0, 0};
    QCOMPARE(m_link.readRegisters(kQuantity, 2, pair), 2);
    QCOMPARE(int(pair[0]) + 65536 * int(pair[1]), 123456789);

    m_sim->setAlarm(7);
    QCOMPARE(m_link.readRegisters(kAlarm, 2, pair), 2);
    QCOMPARE(int(pair[0]), 7);
    QCOMPARE(int(pair[1]), 0);
    const uint16_t zeros[2] = {0, 0};
    QCOMPARE(m_link.writeRegisters(kAlarm, 2, zeros), 2);
    QCOMPARE(m_sim->alarm(), 0);
}

void TstModbusLink::unconfiguredAddressFails()
{
    uint16_t pair[2] = {0, 0};
    QCOMPARE(m_link.readRegisters(500, 2, pair), -1);
    // A pair that runs past the configured one is refused as a whole.
    QCOMPARE(m_link.readRegisters(kQuantity + 1, 2, pair), -1);
    QCOMPARE(m_link.writeBit(0, 1), -1);
    QVERIFY(m_link.connected());
    QCOMPARE(m_link.readRegisters(kQuantity, 2, pair), 2);
}

void TstModbusLink::addressOutsideModbusRangeStaysOffTheLine_data()
{
    QTest::addColumn<int>("addr");
    QTest::addColumn<int>("count");
    QTest::newRow("negative") << -5 << 1;
    QTest::newRow("beyond 65535") << 65536 + kWork << 1;
    QTest::newRow("pair crossing 65535") << 65535 << 2;
    QTest::newRow("no registers") << kQuantity << 0;
}

void TstModbusLink::addressOutsideModbusRangeStaysOffTheLine()
{
    QFETCH(int, addr);
    QFETCH(int, count);
    const int requests = m_sim->requestCount();
    m_sim->setCoil(kWork, false);
    uint8_t bits[2] = {0, 0};
    uint16_t regs[2] = {1, 1};
    if (count == 1)
        QCOMPARE(m_link.writeBit(addr, 1), -1);
    QCOMPARE(m_link.readBits(addr, count, bits), -1);
    QCOMPARE(m_link.readRegisters(addr, count, regs), -1);
    QCOMPARE(m_link.writeRegisters(addr, count, regs), -1);
    // 65547 would otherwise land on WORK, -5 on coil 65531.
    QVERIFY(!m_sim->coil(kWork));
    QCOMPARE(m_sim->requestCount(), requests);
    QVERIFY(m_link.connected());
}

void TstModbusLink::silentPlcTimesOut()
{
    m_sim->setAnswering(false);
    uint16_t pair[2] = {0, 0};
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(m_link.readRegisters(kQuantity, 2, pair), -1);
    QVERIFY2(timer.elapsed() >= 800, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(m_link.writeBit(kWork, 1), -1);
    QVERIFY(m_link.connected());

    m_sim->setAnswering(true);
    QCOMPARE(m_link.readRegisters(kQuantity, 2, pair), 2);
    QCOMPARE(m_link.writeBit(kWork, 0), 1);
}

void TstModbusLink::twoThreadsAtOnce()
{
    constexpr int kRounds = 40;
    std::atomic<int> failures{0};
    // Each thread writes then reads back its own address; interleaved frames on the
    // shared line would garble requests or hand one thread the other's answer.
    std::thread registers([&] {
        for (int i = 1; i <= kRounds; ++i) {
            const uint16_t out[2] = {static_cast<uint16_t>(i), static_cast<uint16_t>(1000 + i)};
            uint16_t in[2] = {0, 0};
            if (m_link.writeRegisters(kDelay, 2, out) != 2 || m_link.readRegisters(kDelay, 2, in) != 2
                || in[0] != out[0] || in[1] != out[1])
                ++failures;
        }
    });
    std::thread coils([&] {
        for (int i = 1; i <= kRounds; ++i) {
            uint8_t in[1] = {9};
            if (m_link.writeBit(kEmptyBox, i % 2) != 1 || m_link.readBits(kEmptyBox, 1, in) != 1
                || in[0] != i % 2)
                ++failures;
        }
    });
    registers.join();
    coils.join();
    QCOMPARE(failures.load(), 0);
}

void TstModbusLink::stationRestartsOnTheSameLine()
{
    for (int run = 0; run < 2; ++run) {
        ModbusLink link;
        QVERIFY(link.openLink(m_sim->devicePath()));
        m_sim->setPair(kQuantity, 1000 + run);
        uint16_t pair[2] = {0, 0};
        QCOMPARE(link.readRegisters(kQuantity, 2, pair), 2);
        QCOMPARE(int(pair[0]), 1000 + run);
    }
    uint16_t pair[2] = {0, 0};
    QCOMPARE(m_link.readRegisters(kQuantity, 2, pair), 2);
    QCOMPARE(int(pair[0]), 1001);
}

void TstModbusLink::missingDevice_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<QByteArray>("named");
    QTest::newRow("no such device") << QStringLiteral("/dev/gluebox-no-such-port")
                                    << QByteArray("PLC port /dev/gluebox-no-such-port could not be opened: ");
    QTest::newRow("not a terminal") << QStringLiteral("/dev/null")
                                    << QByteArray("PLC port /dev/null could not be opened: ");
    QTest::newRow("a folder") << QDir::tempPath()
                              << "PLC port " + QDir::tempPath().toLocal8Bit() + " could not be opened: ";
    QTest::newRow("no name") << QString() << QByteArray("PLC port (none) could not be opened: ");
}

void TstModbusLink::missingDevice()
{
    QFETCH(QString, device);
    QFETCH(QByteArray, named);
    ModbusLink link;
    QVERIFY(!link.openLink(device));
    QVERIFY(!link.connected());
    {
        StdoutCapture out;
        link.printConnectionMessage();
        const QByteArray text = out.text();
        const QByteArray station(ModbusLink::connectionMessage(false));
        QVERIFY2(text.startsWith(station + named) && text.endsWith('\n') && text.count('\n') == 3
                     && text.size() > station.size() + named.size() + 1,
                 text.constData());
    }

    const int requests = m_sim->requestCount();
    uint8_t bits[1] = {7};
    uint16_t regs[2] = {7, 7};
    QCOMPARE(link.readBits(kWork, 1, bits), 0);
    QCOMPARE(link.readRegisters(kQuantity, 2, regs), 0);
    QCOMPARE(link.writeBit(kWork, 1), 0);
    QCOMPARE(link.writeRegisters(kDelay, 2, regs), 0);
    // Also for arguments that a connected link refuses.
    QCOMPARE(link.writeBit(-1, 1), 0);
    QCOMPARE(bits[0], uint8_t(7));
    QCOMPARE(regs[0], uint16_t(7));
    QCOMPARE(m_sim->requestCount(), requests);
}

void TstModbusLink::portFromEnvironment()
{
    const QByteArray saved = qgetenv("GLUEBOX_PLC_PORT");
    qunsetenv("GLUEBOX_PLC_PORT");
#ifdef Q_OS_WIN
    QCOMPARE(StationPaths::plcPort(), QStringLiteral("COM1"));
#else
    QCOMPARE(StationPaths::plcPort(), QStringLiteral("/dev/ttyS0"));
    qputenv("GLUEBOX_PLC_PORT", m_sim->devicePath().toLocal8Bit());
    QCOMPARE(StationPaths::plcPort(), m_sim->devicePath());
    {
        ModbusLink link;
        QVERIFY(link.openLink());
        QCOMPARE(link.device(), m_sim->devicePath());
        uint16_t pair[2] = {0, 0};
        m_sim->setPair(kQuantity, 70000);
        QCOMPARE(link.readRegisters(kQuantity, 2, pair), 2);
        QCOMPARE(int(pair[0]), 4464);
        QCOMPARE(int(pair[1]), 1);
    }
#endif
    if (saved.isNull())
        qunsetenv("GLUEBOX_PLC_PORT");
    else
        qputenv("GLUEBOX_PLC_PORT", saved);
}

void TstModbusLink::connectionMessages()
{
    QCOMPARE(QByteArray(ModbusLink::connectionMessage(true)), QByteArray("Connected to dev!\n"));
    QCOMPARE(QByteArray(ModbusLink::connectionMessage(false)),
             QByteArray("\nSorry,fail to connect ttyS0,please check your device's state.\n"));
}

QTEST_GUILESS_MAIN(TstModbusLink)
#include "tst_modbuslink.moc"
