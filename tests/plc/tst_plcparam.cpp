// plc.txt rows and the PLC reads and writes of a parameter.
#include "ModbusLink.h"
#include "PlcParam.h"
#include "PlcSimulator.h"
#include "StationPaths.h"
#include "StdoutCapture.h"
#include "TempStation.h"

#include <QtTest>

#include <memory>

namespace {
constexpr int kDelay = 40010;
constexpr int kEmptyBox = 20;

QString rows(const QList<PlcParam> &list)
{
    QStringList out;
    for (const PlcParam &p : list)
        out << QString::fromLatin1(PlcParams::line(p));
    return out.join(QLatin1Char(';'));
}
} // namespace

class TstPlcParam : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void fileRoundTripInGbk_data();
    void fileRoundTripInGbk();
    void missingFile();
    void noRowIsSaid_data();
    void noRowIsSaid();
    void plcValues_data();
    void plcValues();
};

void TstPlcParam::parse_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("expected");   // rows as written back, ';'-separated
    QTest::newRow("register pair") << QByteArray("Delay|40010|70000|ms\n") << "Delay|40010|70000|ms";
    QTest::newRow("three and five pieces skipped")
        << QByteArray("a|1|2\nb|20|1|x\nc|1|2|3|4\n") << "b|20|1|x";
    QTest::newRow("empty lines, CR LF, no final line end")
        << QByteArray("\n\r\na|1|0|x\r\n\nb|2|1|y") << "a|1|0|x;b|2|1|y";
    QTest::newRow("leading digits, else 0")
        << QByteArray("a| 40012ms|-7kg|\nb|x|y|z\n") << "a|40012|-7|;b|0|0|z";
    QTest::newRow("empty pieces keep their place") << QByteArray("|||\n") << "|0|0|";
    QTest::newRow("file order, repeated address kept")
        << QByteArray("b|20|1|\na|20|0|\n") << "b|20|1|;a|20|0|";
    // Cut at 1023 characters: the fourth piece is lost with the cut, so the row goes.
    QTest::newRow("over-long line cut") << QByteArray("a|1|2|" + QByteArray(1100, 'r') + "\nb|3|4|z\n")
                                        << "a|1|2|" + QString(1017, QLatin1Char('r')) + ";b|3|4|z";
}

void TstPlcParam::parse()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, expected);
    QCOMPARE(rows(PlcParams::parse(text)), expected);
}

void TstPlcParam::fileRoundTripInGbk_data()
{
    QTest::addColumn<QString>("source");   // empty: a file written here
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("remark");
    QTest::newRow("written here") << QString() << QStringLiteral("剔除延时(ms)")
                                  << QStringLiteral("产品窗口后剔除阀的延时");
    QTest::newRow("station template") << QStringLiteral(GLUEBOX_SOURCE_DIR "/station/conf/plc.txt")
                                      << QStringLiteral("剔除延时(ms)")
                                      << QStringLiteral("产品窗口后剔除阀的延时");
}

void TstPlcParam::fileRoundTripInGbk()
{
    QFETCH(QString, source);
    QFETCH(QString, name);
    QFETCH(QString, remark);
    TempStation station;
    QVERIFY(station.isValid());
    const QByteArray gbkLine = PlcParams::gbk(name) + "|40010|120|" + PlcParams::gbk(remark) + '\n';
    QVERIFY(PlcParams::gbk(name) != name.toUtf8());
    const QByteArray original = source.isEmpty() ? gbkLine + "空盒检测|20|1|\n" : TempStation::read(source);
    QVERIFY(TempStation::write(StationPaths::plcParamFile(), original));

    QList<PlcParam> list{PlcParam()};
    QVERIFY(readPlcParams(list));
    QVERIFY(list.size() >= 2);
    QCOMPARE(PlcParams::text(list[0].name), name);
    QCOMPARE(PlcParams::text(list[0].remark), remark);
    QCOMPARE(list[0].address, kDelay);
    QVERIFY(TempStation::replacesWhole(StationPaths::plcParamFile(), [&list] { return writePlcParams(list); }));
    QCOMPARE(TempStation::read(StationPaths::plcParamFile()), original);
}

void TstPlcParam::missingFile()
{
    TempStation station;
    QList<PlcParam> list{PlcParam()};
    StdoutCapture out;
    QVERIFY(!readPlcParams(list));
    QCOMPARE(out.text(), QByteArray("Error: Open production file ../conf/plc.txt\n"));
    QVERIFY(list.isEmpty());
    QVERIFY(!QFile::exists(StationPaths::plcParamFile()));
}

void TstPlcParam::noRowIsSaid_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("found");
    QTest::addColumn<QString>("detail");
    QTest::newRow("a row") << QByteArray("garbage\nb|20|1|x\n") << int(SettingsRead::Whole) << QString();
    QTest::newRow("empty") << QByteArray() << int(SettingsRead::Empty)
                           << "PLC parameter file plc.txt is empty: no parameter is written to the PLC.";
    QTest::newRow("line ends and NULs") << QByteArray("\r\n\n\0\0", 5) << int(SettingsRead::Empty)
                                        << "PLC parameter file plc.txt is empty: no parameter is written to the PLC.";
    QTest::newRow("cut in the first row") << QByteArray("Delay|40010|70") << int(SettingsRead::Damaged)
                                          << "PLC parameter file plc.txt has no readable row: no parameter is "
                                             "written to the PLC.";
}

void TstPlcParam::noRowIsSaid()
{
    QFETCH(QByteArray, text);
    QFETCH(int, found);
    QFETCH(QString, detail);
    TempStation station;
    QVERIFY(TempStation::write(StationPaths::plcParamFile(), text));
    QList<PlcParam> list;
    SettingsRead what;
    QVERIFY(readPlcParams(list, &what));
    QCOMPARE(int(what.state), found);
    QCOMPARE(what.detail, detail);
}

void TstPlcParam::plcValues_data()
{
    QTest::addColumn<bool>("answering");
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("value");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<quint32>("inPlc");   // pair or coil as the PLC holds it
    QTest::addColumn<int>("readBack");
    QTest::newRow("pair 70000 = 4464 + 1 x 65536") << true << kDelay << 70000 << true << 70000u << 70000;
    QTest::newRow("negative pair") << true << kDelay << -5 << true << 0xFFFFFFFBu << -5;
    QTest::newRow("coil 5 writes 1") << true << kEmptyBox << 5 << true << 1u << 1;
    QTest::newRow("coil 0") << true << kEmptyBox << 0 << true << 0u << 0;
    QTest::newRow("unused address") << true << 0 << 1 << false << 0u << -99;
    QTest::newRow("address the PLC refuses") << true << 30 << 1 << false << 0u << -99;
    QTest::newRow("silent PLC") << false << kDelay << 9 << false << 0u << -99;
}

void TstPlcParam::plcValues()
{
    QFETCH(bool, answering);
    QFETCH(int, address);
    QFETCH(int, value);
    QFETCH(bool, ok);
    QFETCH(quint32, inPlc);
    QFETCH(int, readBack);

    PlcSimulator::Options options;
    options.boxesPerSecond = 0;
    PlcSimulator sim(PlcAddrMap(), {{QStringLiteral("Delay"), kDelay, 0}, {QStringLiteral("Empty"), kEmptyBox, 0}},
                     options);
    QString error;
    if (!sim.openPseudoTerminal(&error))
        QSKIP(qPrintable(QStringLiteral("no pseudo-terminal on this machine: ") + error));
    QVERIFY(sim.start());
    ModbusLink link;
    QVERIFY(link.openLink(sim.devicePath()));
    sim.setAnswering(answering);

    QCOMPARE(PlcParams::writeValue(link, address, value), ok);
    if (address == kDelay)
        QCOMPARE(sim.pair(kDelay), inPlc);
    else if (address == kEmptyBox)
        QCOMPARE(quint32(sim.coil(kEmptyBox)), inPlc);
    int read = -99;
    QCOMPARE(PlcParams::readValue(link, address, read), ok);
    QCOMPARE(read, readBack);
    sim.stop();
}

QTEST_GUILESS_MAIN(TstPlcParam)
#include "tst_plcparam.moc"
