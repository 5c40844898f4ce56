// The whole start-up and exit of the window against the PLC simulator (in-process, over a
// pseudo-terminal pair) and one simulated camera: automatic open and work, the no-kick
// coil, plc.txt's parameters, a missing rotate.txt, the login flow through the window's
// slots, and OnExit; then start-ups with settings files that could not be read whole.
#include "AnsweredMessages.h"
#include "TempStation.h"
#include "CameraSlot.h"
#include "Dialogin.h"
#include "Gluebox.h"
#include "MonitorConf.h"
#include "LineSimulator.h"
#include "ModbusLink.h"
#include "PlcAddrMap.h"
#include "PlcSimulator.h"
#include "SimulatedStation.h"
#include "StationControl.h"
#include "StationFonts.h"
#include "StationState.h"

#include <QCheckBox>
#include <QLCDNumber>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using Files = QMap<QString, QByteArray>; // station path -> content
Q_DECLARE_METATYPE(Files)

class tst_Gluebox : public QObject
{
    Q_OBJECT

    QTemporaryDir m_station;
    QString m_previousDir;
    std::unique_ptr<PlcSimulator> m_sim;
    std::unique_ptr<AnsweredMessages> m_messages;
    std::unique_ptr<Gluebox> m_window;
    PlcAddrMap m_addr;

    template <typename T = QWidget>
    T *w(const char *name) const { return m_window->findChild<T *>(QLatin1String(name)); }

    bool write(const QString &path, const QByteArray &text)
    {
        QFile f(QDir(m_station.path()).absoluteFilePath(path));
        return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(text) == text.size();
    }

private slots:
    void initTestCase()
    {
        qRegisterMetaType<cv::Mat>("cv::Mat");
        StationFonts::install();
        QVERIFY(m_station.isValid());
        QVERIFY(TempStation::copyTree(QStringLiteral(GLUEBOX_SOURCE_DIR "/station"), m_station.path()));
        QVERIFY(write("conf/conf.txt", TempStation::read(m_station.filePath("conf/conf.txt"))
                                           .replace("NO1=0|0|0", "NO1=5|5|5")));
        QVERIFY(write("conf/camsim.txt", "CAMERA=HIK|Hikrobot|255|GigE|728|544|Mono8|\nRATE=60\n"));
        QVERIFY(write("conf/plc.txt", "Delay|40010|70000|r\nUnused|0|5|r\nEmpty box|20|1|r\n"));
        QVERIFY(QFile::remove(m_station.filePath("conf/rotate.txt")));
        m_previousDir = QDir::currentPath();
        QDir::setCurrent(m_station.filePath("bin"));

        QVERIFY(readPlcAddrMap(m_addr));
        PlcSimulator::Options options;
        options.boxesPerSecond = 0;
        m_sim = std::make_unique<PlcSimulator>(
            m_addr, PlcSimulator::readParameters(QStringLiteral("../conf/plc.txt")), options);
        QString error;
        if (!m_sim->openPseudoTerminal(&error))
            QSKIP(qPrintable(QStringLiteral("no pseudo-terminal on this machine: ") + error));
        QVERIFY(m_sim->start());
        m_sim->setCoil(m_addr.NO_KICK, true);
        m_sim->setPair(40010, 0);
        m_sim->setCoil(20, false);
        qputenv("GLUEBOX_PLC_PORT", m_sim->devicePath().toLocal8Bit());
        m_messages = std::make_unique<AnsweredMessages>();
        m_window = std::make_unique<Gluebox>();
    }

    void cleanupTestCase()
    {
        m_window.reset(); // after OnExit: nothing left to stop twice
        m_messages.reset();
        const QList<QByteArray> lines = TempStation::readLogs(m_station.filePath(QStringLiteral("data/log"))).trimmed().split('\n');
        QVERIFY(lines.first().endsWith("Application Start."));
        QVERIFY(lines.last().endsWith("Application exited."));
        if (m_sim)
            m_sim->stop();
        QDir::setCurrent(m_previousDir);
    }

    void startUp()
    {
        QCOMPARE(w<QLabel>("label_plc")->text(), QStringLiteral("PLC正常"));
        QVERIFY(w<QCheckBox>("checkBox_unkick")->isChecked());
        QCOMPARE(m_sim->reg(40010), uint16_t(4464)); // 70000, low word first
        QCOMPARE(m_sim->reg(40011), uint16_t(1));
        QVERIFY(m_sim->coil(20));
        QCOMPARE(QFile(QStringLiteral("../conf/rotate.txt")).size(), qint64(16));

        QVERIFY(g_cameras[0].opened);
        QVERIFY(m_sim->coil(m_addr.WORK));
        QVERIFY(g_working);
        QCOMPARE(w<QLabel>("label_title_2")->text(), QStringLiteral("运行中"));
        QVERIFY(!w<QCheckBox>("checkBox_debug")->isEnabled());
        QVERIFY(!w<QLabel>("label_reslut_1")->isHidden());
        QCOMPARE(w<QLabel>("label_role")->text(), QStringLiteral("未登录"));
        QVERIFY(m_window->timer_status->isActive());
        QCOMPARE(m_window->timer_status->interval(), 1000);
        QVERIFY(m_window->m_simulation->line().isRunning());
    }

    void statusTick()
    {
        m_sim->setPair(m_addr.QUANTITY, 1234);
        m_sim->setAlarm(4);
        m_window->handleTimeout();
        QCOMPARE(w<QLCDNumber>("lcdNumber_total_no")->intValue(), 1234);
        QCOMPARE(w<QLabel>("label_plc")->text(), QStringLiteral("PLC在线"));
        QCOMPARE(w<QLabel>("label_alarm")->text(), QStringLiteral("2#相机有剔除"));
        QVERIFY(w<QLabel>("label_run_stat")->text().startsWith(QStringLiteral("运行0天0时")));
    }

    void loginThroughTheWindow()
    {
        AnsweredMessages &messages = *m_messages;
        m_window->on_btn_pause_released(); // nobody logged in: the operator keypad
        QVERIFY(m_window->m_dialog_op);
        QVERIFY(m_window->m_dialog_op->isModal());
        emit m_window->m_dialog_op->enter_op();
        QCOMPARE(w<QLabel>("label_role")->text(), QStringLiteral("操作员"));
        m_window->on_btn_pause_released();
        QVERIFY(!m_sim->coil(m_addr.WORK));
        QCOMPARE(w<QLabel>("label_title_2")->text(), QStringLiteral("未运行"));
        QVERIFY(!m_window->m_simulation->line().isRunning()); // the line follows the PLC

        m_window->on_pushButton_clear_released();
        QVERIFY(!w<QPushButton>("pushButton_clear")->isEnabled());
        QCOMPARE(w<QLCDNumber>("lcdNumber_total_no_last")->intValue(), 1234);

        m_window->on_checkBox_debug_clicked(true); // an operator may not
        QCOMPARE(messages.shown.last(), QStringLiteral("权限检查 |请先点击解锁按钮，进入管理员模式"));
        QVERIFY(!w<QCheckBox>("checkBox_debug")->isChecked());
        m_window->on_btn_start_released();
        QVERIFY(m_sim->coil(m_addr.WORK));
    }

    void exit()
    {
        m_window->OnExit();
        QVERIFY(!m_sim->coil(m_addr.WORK));
        QVERIFY(!g_cameras[0].opened);
        QVERIFY(!g_modbus);
        m_window->handleTimeout(); // a late tick finds nothing to poll
        QCOMPARE(w<QLabel>("cam_work_1")->styleSheet(),
                 QStringLiteral("background-color: rgb(255, 255, 0);"));
    }

    // Each row starts a copy of the station above with some files as a power cut during a
    // save (in an older build) or the template leave them. Settings that pass every defect
    // hold work for the administrator; what could not be read is said on screen and in
    // the log, and start-up writes none of it back.
    void damagedSettingsAtStartUp_data()
    {
        QTest::addColumn<Files>("files");
        QTest::addColumn<bool>("held");
        QTest::addColumn<QStringList>("said");
        const QString held = QStringLiteral("Work starts only when an administrator starts it, or saves the settings.");
        const QByteArray conf = TempStation::read(m_station.filePath("conf/conf.txt")); // recipe 5|5|5
        QTest::newRow("conf.txt cut in a line")
            << Files{{"conf/conf.txt", conf.left(conf.indexOf("EXPO2=") + 8)}} << true
            << QStringList{"Settings file conf.txt is cut short (no GAIN2 and 18 more): those settings have their "
                           "defaults.",
                           held};
        QTest::newRow("the template's recipe 0|0|0")
            << Files{{"conf/conf.txt", TempStation::read(QStringLiteral(GLUEBOX_SOURCE_DIR "/station/conf/conf.txt"))}}
            << true << QStringList{"Recipe 0|0|0 for camera 1#: no box is ever found NG.", held};
        QTest::newRow("rotate.txt cut, plc.txt and pswd.txt empty")
            << Files{{"conf/rotate.txt", "1,1,1,2,"}, {"conf/plc.txt", ""}, {"bin/pswd.txt", ""}} << false
            << QStringList{"Rotation file rotate.txt is cut short or garbled: no picture is rotated, and the file is "
                           "kept as it is.",
                           "PLC parameter file plc.txt is empty: no parameter is written to the PLC.",
                           "Password file pswd.txt is empty: the built-in administrator password is in force."};
        // The plant's broker is no setting of the line's: the station works on without it.
        QByteArray plant = conf.left(conf.indexOf("MonitorIP="));
        QTest::newRow("no broker at the monitor address, a name unfit for a topic")
            << Files{{"conf/conf.txt", plant + "MonitorIP=127.0.0.1\nMonitorPort=1\n"}, {"conf/monitor.txt", "name=line 3\n"}}
            << false
            << QStringList{"Plant link: no connection to the MQTT broker at 127.0.0.1:1: Connection refused. The station "
                           "works on and keeps its messages until the broker answers.",
                           QStringLiteral("../conf/monitor.txt: name \"line 3\" cannot be a topic level (no /, +, # or "
                                          "blanks); kept \"%1\"").arg(MonitorConf::read(QString()).name)};
        QTest::newRow("a monitor port out of range")
            << Files{{"conf/conf.txt", plant + "MonitorIP=127.0.0.1\nMonitorPort=70000\n"}} << false
            << QStringList{"MonitorPort=70000 in conf.txt is not a port (1 to 65535): nothing is published to the plant."};
    }

    void damagedSettingsAtStartUp()
    {
        QFETCH(Files, files);
        QFETCH(bool, held);
        QFETCH(QStringList, said);
        m_window.reset(); // it has exited above; its last log line goes to its own station
        QTemporaryDir station;
        QVERIFY(TempStation::copyTree(m_station.path(), station.path()));
        QVERIFY(QDir(station.filePath("data/log")).removeRecursively());
        for (auto f = files.cbegin(); f != files.cend(); ++f)
            QVERIFY(write(station.filePath(f.key()), f.value()));
        QDir::setCurrent(station.filePath("bin"));
        m_sim->setCoil(m_addr.WORK, false);
        {
            Gluebox window;
            const QLabel *band = window.findChild<QLabel *>(QStringLiteral("label_trouble"));
            QVERIFY(!band->isHidden());
            QCOMPARE(band->styleSheet(), QStringLiteral("background-color: rgb(255, 255, 0);"));
            // The plant link says its trouble from a thread of its own, a moment later.
            for (const QString &line : said)
                QTRY_VERIFY2_WITH_TIMEOUT(band->text().split('\n').contains(line), qPrintable(band->text()), 5000);
            QCOMPARE(m_sim->coil(m_addr.WORK), !held);
            window.OnExit();
        }
        QDir::setCurrent(m_station.filePath("bin"));
        const QByteArray log = TempStation::readLogs(station.filePath("data/log"));
        for (const QString &line : said)
            QVERIFY2(log.contains("][INFO] " + line.toUtf8() + '\n'), log.constData());
        QCOMPARE(log.contains("][INFO] Automatic start skipped: the settings must be checked by the administrator "
                              "first.\n"),
                 held);
        for (auto f = files.cbegin(); f != files.cend(); ++f)
            QCOMPARE(TempStation::read(station.filePath(f.key())), f.value());
    }
};

QTEST_MAIN(tst_Gluebox)
#include "tst_gluebox_startup.moc"
