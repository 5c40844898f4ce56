// The PLC parameter dialog against the PLC simulator over a pseudo-terminal, in a
// throw-away station folder.
#include "AnsweredMessages.h"
#include "ModbusLink.h"
#include "PlcParam.h"
#include "PlcSetup.h"
#include "PlcSimulator.h"
#include "PlcState.h"
#include "StationPaths.h"
#include "TempStation.h"

#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QToolButton>
#include <QtTest>

#include <memory>

namespace {
constexpr int kDelay = 40010;
constexpr int kEmptyBox = 20;

QByteArray plcTxt()
{
    return PlcParams::gbk(QStringLiteral("剔除延时(ms)|40010|120|剔除阀延时\n"))
           + "three|1|2\nfive|1|2|3|4\nEmpty|20|0|coil\nDup|20|0|second\nUnused|0|5|x\n";
}
} // namespace

class TstPlcSetup : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void table();
    void rowButtons_data();
    void rowButtons();
    void silentPlcPolledLessOften();
    void closingStopsPolling_data();
    void closingStopsPolling();

private:
    QTableWidget *tableWidget() const { return m_dialog->findChild<QTableWidget *>(QStringLiteral("tableWidget")); }
    QString reads() const;

    std::unique_ptr<PlcSimulator> m_sim;
    ModbusLink m_link;
    std::unique_ptr<TempStation> m_station;
    std::unique_ptr<AnsweredMessages> m_messages;
    std::unique_ptr<PlcSetup> m_dialog;
};

void TstPlcSetup::initTestCase()
{
    PlcSimulator::Options options;
    options.boxesPerSecond = 0;
    m_sim = std::make_unique<PlcSimulator>(PlcAddrMap(),
                                           QVector<PlcSimulator::Parameter>{{QStringLiteral("Delay"), kDelay, 120},
                                                                            {QStringLiteral("Empty"), kEmptyBox, 0}},
                                           options);
    QString error;
    if (!m_sim->openPseudoTerminal(&error))
        QSKIP(qPrintable(QStringLiteral("no pseudo-terminal on this machine: ") + error));
    QVERIFY(m_sim->start());
    QVERIFY(m_link.openLink(m_sim->devicePath()));
    g_modbus = &m_link;
}

void TstPlcSetup::cleanupTestCase()
{
    g_modbus = nullptr;
    if (m_sim)
        m_sim->stop();
}

void TstPlcSetup::init()
{
    m_sim->setAnswering(true);
    m_sim->setPair(kDelay, 120);
    m_sim->setCoil(kEmptyBox, false);
    m_station = std::make_unique<TempStation>();
    QVERIFY(TempStation::write(StationPaths::plcParamFile(), plcTxt()));
    m_messages = std::make_unique<AnsweredMessages>();
    g_plc_setup_open = true;
    m_dialog = std::make_unique<PlcSetup>();
    m_dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_dialog.get()));
}

void TstPlcSetup::cleanup()
{
    m_dialog.reset();
    m_messages.reset();
    m_station.reset();
}

QString TstPlcSetup::reads() const
{
    QStringList texts;
    for (int row = 0; row < tableWidget()->rowCount(); ++row)
        texts << tableWidget()->item(row, PlcSetup::kRead)->text();
    return texts.join(QLatin1Char('|'));
}

void TstPlcSetup::table()
{
    QTableWidget *t = tableWidget();
    QVERIFY(m_dialog->windowFlags() & Qt::FramelessWindowHint);
    QCOMPARE(t->rowCount(), 4);   // the three- and five-piece lines make no row
    QCOMPARE(t->columnCount(), 7);
    QStringList headers, widths, names, remarks;
    for (int c = 0; c < t->columnCount(); ++c) {
        headers << t->horizontalHeaderItem(c)->text();
        widths << QString::number(t->columnWidth(c));
    }
    for (int r = 0; r < t->rowCount(); ++r) {
        names << t->item(r, PlcSetup::kName)->text();
        remarks << t->item(r, PlcSetup::kRemark)->text();
    }
    QCOMPARE(headers.join(QLatin1Char(' ')), QStringLiteral("功能描述 读数值 读操作 写数值 写操作 保存 备注"));
    QCOMPARE(widths.join(QLatin1Char(' ')), QStringLiteral("200 100 50 100 50 50 390"));
    QCOMPARE(names.join(QLatin1Char(' ')), QStringLiteral("剔除延时(ms) Empty Dup Unused"));
    QCOMPARE(remarks.join(QLatin1Char(' ')), QStringLiteral("剔除阀延时 coil second x"));
    QCOMPARE(reads(), QStringLiteral("|||"));
    QCOMPARE(t->editTriggers(), QAbstractItemView::NoEditTriggers);
    QVERIFY(m_dialog->polling());
}

void TstPlcSetup::rowButtons_data()
{
    QTest::addColumn<QString>("button");    // 读, 写, 保存 with a row, or 批量读取
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("answering");
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("reads");     // the 读数值 column afterwards
    QTest::addColumn<int>("delayPair");     // the PLC afterwards
    QTest::addColumn<int>("emptyCoil");
    QTest::addColumn<QString>("fileRows");  // values of the file's rows afterwards

    const QString ok = QStringLiteral("提示|写入成功");
    const QString saved = QStringLiteral("提示|写入并且保存成功");
    const QString noPlc = QStringLiteral("提示|写入失败，请检查PLC连接");
    QTest::newRow("70000 written as 4464 and 1") << "写" << 0 << "70000" << true << ok << "|||" << 70000 << 0 << "120 0 0 5";
    QTest::newRow("70000 saved") << "保存" << 0 << "70000" << true << saved << "|||" << 70000 << 0 << "70000 0 0 5";
    QTest::newRow("coil 5 writes and saves 1") << "保存" << 1 << "5" << true << saved << "|||" << 120 << 1 << "120 1 0 5";
    QTest::newRow("same address: first row saved") << "保存" << 2 << "1" << true << saved << "|||" << 120 << 1 << "120 1 0 5";
    QTest::newRow("empty entry writes nothing") << "写" << 0 << "" << true << "" << "|||" << 120 << 0 << "120 0 0 5";
    QTest::newRow("empty entry saves nothing") << "保存" << 0 << "" << true << "" << "|||" << 120 << 0 << "120 0 0 5";
    QTest::newRow("no address: write fails") << "写" << 3 << "3" << true << "提示|写入失败，该参数没有PLC地址" << "|||" << 120 << 0
                                             << "120 0 0 5";
    QTest::newRow("no address: nothing saved") << "保存" << 3 << "3" << true << "" << "|||" << 120 << 0 << "120 0 0 5";
    QTest::newRow("silent PLC: write fails") << "写" << 0 << "7" << false << noPlc << "|||" << 120 << 0 << "120 0 0 5";
    QTest::newRow("silent PLC: nothing saved") << "保存" << 1 << "1" << false << "提示|写入失败，请检查PLC连接，参数没有保存"
                                               << "|||" << 120 << 0 << "120 0 0 5";
    QTest::newRow("read pair") << "读" << 0 << "" << true << "" << "120|||" << 120 << 0 << "120 0 0 5";
    QTest::newRow("read all") << "批量读取" << -1 << "" << true << "" << "120|0|0|" << 120 << 0 << "120 0 0 5";
    QTest::newRow("silent PLC: read fails") << "读" << 1 << "" << false << "" << "|读取失败||" << 120 << 0 << "120 0 0 5";
    QTest::newRow("silent PLC: all reads fail") << "批量读取" << -1 << "" << false << "" << "读取失败|读取失败|读取失败|"
                                                << 120 << 0 << "120 0 0 5";
}

void TstPlcSetup::rowButtons()
{
    QFETCH(QString, button);
    QFETCH(int, row);
    QFETCH(QString, typed);
    QFETCH(bool, answering);
    QFETCH(QString, box);
    QFETCH(QString, reads);
    QFETCH(int, delayPair);
    QFETCH(int, emptyCoil);
    QFETCH(QString, fileRows);

    const int column = button == QStringLiteral("读")   ? PlcSetup::kReadButton
                       : button == QStringLiteral("写") ? PlcSetup::kWriteButton
                                                       : PlcSetup::kSaveButton;
    if (row >= 0) {
        auto *edit = qobject_cast<QLineEdit *>(tableWidget()->cellWidget(row, PlcSetup::kWrite));
        QTest::keyClicks(edit, typed);
        QCOMPARE(edit->text(), typed);
    }
    m_sim->setAnswering(answering);
    const int requestsBefore = m_sim->requestCount();
    QAbstractButton *target = row >= 0
        ? qobject_cast<QAbstractButton *>(tableWidget()->cellWidget(row, column))
        : m_dialog->findChild<QAbstractButton *>(QStringLiteral("toolButton_batch_read"));
    QVERIFY(target && target->text() == button);
    QTest::mouseClick(target, Qt::LeftButton);
    m_sim->setAnswering(true);

    QCOMPARE(m_messages->shown.join(QLatin1Char(';')), box);
    QCOMPARE(this->reads(), reads);
    QCOMPARE(static_cast<int32_t>(m_sim->pair(kDelay)), delayPair);
    QCOMPARE(int(m_sim->coil(kEmptyBox)), emptyCoil);
    if (delayPair == 70000)
        QVERIFY(m_sim->reg(kDelay) == 4464 && m_sim->reg(kDelay + 1) == 1);
    QList<PlcParam> file;
    QVERIFY(readPlcParams(file));
    QStringList values;
    for (const PlcParam &p : file)
        values << QString::number(p.value);
    QCOMPARE(values.join(QLatin1Char(' ')), fileRows);
    QCOMPARE(PlcParams::text(file[0].name), QStringLiteral("剔除延时(ms)"));
    if (!answering && button == QStringLiteral("批量读取"))   // a silent PLC is asked once per pass
        QCOMPARE(m_sim->requestCount() - requestsBefore, 1);
}

void TstPlcSetup::silentPlcPolledLessOften()
{
    // Ticks driven by hand: one silent pass, then four ticks that leave the PLC alone.
    m_sim->setAnswering(false);
    const int before = m_sim->requestCount();
    for (int tick = 0; tick < 1 + PlcSetup::kTicksSkippedAfterFailure; ++tick)
        QVERIFY(QMetaObject::invokeMethod(m_dialog.get(), "handleTimeout"));
    QCOMPARE(m_sim->requestCount() - before, 1);
    QCOMPARE(reads(), QStringLiteral("读取失败|读取失败|读取失败|"));
    m_sim->setAnswering(true);
    QVERIFY(QMetaObject::invokeMethod(m_dialog.get(), "handleTimeout"));
    QCOMPARE(reads(), QStringLiteral("120|0|0|"));
    QVERIFY(QMetaObject::invokeMethod(m_dialog.get(), "handleTimeout"));   // every tick again
    QCOMPARE(m_sim->requestCount() - before, 1 + 3 + 3);
}

void TstPlcSetup::closingStopsPolling_data()
{
    QTest::addColumn<bool>("byButton");
    QTest::newRow("关闭窗口") << true;
    QTest::newRow("Escape") << false;
}

void TstPlcSetup::closingStopsPolling()
{
    QFETCH(bool, byButton);
    QVERIFY(m_dialog->polling());
    if (byButton)
        QTest::mouseClick(m_dialog->findChild<QToolButton *>(QStringLiteral("toolButton_close")), Qt::LeftButton);
    else
        QTest::keyClick(m_dialog.get(), Qt::Key_Escape);
    QVERIFY(!m_dialog->isVisible());
    QVERIFY(!m_dialog->polling());
    QVERIFY(!g_plc_setup_open);
}

QTEST_MAIN(TstPlcSetup)
#include "tst_plcsetup.moc"
