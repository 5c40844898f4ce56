// The station's control and login session without a window: the PLC simulator over a real
// pseudo-terminal pair, a hand-set clock, and message boxes answered by the test.
#include "AnsweredMessages.h"
#include "DebugMode.h"
#include "LoginSession.h"
#include "ModbusLink.h"
#include "PlcAddrMap.h"
#include "PlcSimulator.h"
#include "PlcStartup.h"
#include "PlcState.h"
#include "ShiftStatistics.h"
#include "StationControl.h"
#include "StationState.h"
#include "SysConf.h"
#include "TempStation.h"

#include <QSignalSpy>
#include <QtTest>

#include <memory>
#include <mutex>

namespace {

PlcAddrMap plcAddresses()
{
    PlcAddrMap a;
    a.KICK1 = 100;
    a.KICK2 = 102;
    a.QUANTITY = 110;
    a.ALARM = 120;
    a.SHIFT = 10;
    a.WORK = 11;
    a.NO_KICK = 12;
    a.RESET = 14;
    return a;
}

const QString kAdminRequired = QStringLiteral("请先点击解锁按钮，进入管理员模式");

} // namespace

class TstStationControl : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();

    void startDebugAndPause();
    void guards_data();
    void guards();
    void heldForAdministrator_data();
    void heldForAdministrator();
    void unkickByOperator();
    void resetPulse_data();
    void resetPulse();
    void loginCountdowns();
    void runTime_data();
    void runTime();
    void alarmSequences_data();
    void alarmSequences();
    void reconnectAndCancel();
    void reconnectWhileWorking_data();
    void reconnectWhileWorking();
    void openCamera_data();
    void openCamera();
    void unidentifiedCamera_data();
    void unidentifiedCamera();
    void stopTriggeredShift();
    void timedShift_data();
    void timedShift();
    void manualShift();
    void plcParameters();
    void withoutPlc();
    void silentPlc();

private:
    void makeControl(ModbusLink *link, std::function<void()> plcConnected = {});
    // Every request before this one has been served and logged by the simulator.
    QStringList plcLog(const QString &containing);
    int writesTo(int coil) { return plcLog(QStringLiteral("write coil %1 ").arg(coil)).size(); }

    std::unique_ptr<PlcSimulator> m_sim;
    ModbusLink m_link;
    std::mutex m_plcLogMutex;
    QStringList m_plcLog;

    PlcAddrMap m_addr;
    SysConf m_conf;
    QDateTime m_now;
    bool m_found[4] = {};
    bool m_opened[4] = {};
    int m_openFailures[4] = {};  // opens that fail before one succeeds
    QStringList m_refused[4];    // the reject output's features the next opens refuse
    QStringList m_unidentified;  // cameras whose user ID could not be read
    int m_readFailures = 0;      // reads of their IDs that fail before 2#'s answers
    QStringList m_calls; // hooks called, in order
    std::unique_ptr<AnsweredMessages> m_messages;
    std::unique_ptr<LoginSession> m_session;
    std::unique_ptr<StationControl> m_control;
    QStringList m_log;
    int m_keypads = 0;
};

void TstStationControl::initTestCase()
{
    PlcSimulator::Options options;
    options.boxesPerSecond = 0; // totals move only when a test sets them
    const QVector<PlcSimulator::Parameter> params = {{QStringLiteral("Delay"), 40010, 0},
                                                     {QStringLiteral("Empty box"), 20, 0}};
    m_sim = std::make_unique<PlcSimulator>(plcAddresses(), params, options);
    m_sim->setLogger([this](const QString &line) {
        std::lock_guard<std::mutex> lock(m_plcLogMutex);
        m_plcLog << line;
    });
    QString error;
    if (!m_sim->openPseudoTerminal(&error))
        QSKIP(qPrintable(QStringLiteral("no pseudo-terminal on this machine: ") + error));
    QVERIFY(m_sim->start());
    QVERIFY(m_link.openLink(m_sim->devicePath()));
}

void TstStationControl::cleanupTestCase()
{
    m_control.reset();
    if (m_sim)
        m_sim->stop();
}

void TstStationControl::init()
{
    g_admin_login = g_op_login = g_working = g_plc_setup_open = false;
    g_debug_mode = false;
    g_admin_remaining = StationState::kAdminLoginSeconds;
    g_op_remaining = StationState::kOperatorLoginSeconds;
    g_alarm_texts = PlcState::defaultAlarmTexts();
    g_alarm_history.clear();
    g_last_alarm_code = 0;
    g_last_quantity = g_same_quantity_count = g_shift_tick = 0;
    g_last_shift = ShiftStatistics::kNoShiftWritten;
    g_start_time = m_now = QDateTime(QDate(2026, 3, 2), QTime(8, 0, 0));
    for (int c : {10, 11, 12, 14, 20})
        m_sim->setCoil(c, false);
    for (int p : {100, 102, 110, 120, 40010})
        m_sim->setPair(p, 0);
    m_sim->setAlarm(0);
    m_addr = plcAddresses();
    m_conf.SHIFT_A = m_conf.SHIFT_B = m_conf.SHIFT_C = QTime(0, 0);
    m_conf.AUTO_SHIFT = 0;
    m_conf.TIMING_SHIFT = 0;
    for (int i = 0; i < 4; ++i) {
        m_found[i] = m_opened[i] = false;
        m_openFailures[i] = 0;
        m_refused[i].clear();
    }
    m_unidentified.clear();
    m_readFailures = 0;
    m_conf.AUTO_OPEN = 1;
    m_calls.clear();
    m_log.clear();
    m_keypads = 0;
    m_messages.reset(); // the old answers uninstall themselves
    m_messages = std::make_unique<AnsweredMessages>();
    makeControl(&m_link);
    plcLog(QString());
    std::lock_guard<std::mutex> lock(m_plcLogMutex);
    m_plcLog.clear();
}

void TstStationControl::makeControl(ModbusLink *link, std::function<void()> plcConnected)
{
    m_control.reset();
    m_session = std::make_unique<LoginSession>();
    StationHooks hooks;
    hooks.now = [this] { return m_now; };
    hooks.prepareWork = [this] { m_calls << QStringLiteral("prepare"); };
    hooks.workStopped = [this] { m_calls << QStringLiteral("stopped"); };
    hooks.setDebugMode = [](bool freeRun) { g_debug_mode = freeRun; };
    hooks.cameraFound = [this](int i) { return m_found[i]; };
    hooks.cameraOpened = [this](int i) { return m_opened[i]; };
    hooks.setCameraOpen = [this](int i, bool open) {
        m_calls << QStringLiteral("%1 %2").arg(open ? "open" : "close").arg(i);
        if (open && m_openFailures[i] > 0) {
            --m_openFailures[i];
            return false;
        }
        m_opened[i] = open;
        return true;
    };
    hooks.cameraName = [](int i) { return QStringLiteral("Balluff, user ID %1").arg(i + 2); };
    hooks.rejectRefused = [this](int i) { return m_refused[i]; };
    hooks.unidentifiedCameras = [this] { return m_unidentified; };
    hooks.identifyCameras = [this] {
        if (m_readFailures > 0) {
            --m_readFailures;
            return QList<int>();
        }
        m_unidentified.clear();
        m_found[1] = true;
        return QList<int>{1};
    };
    hooks.sleepMs = [](int) {};
    hooks.keepBoxesAhead = [this](int i) { m_calls << QStringLiteral("keep %1").arg(i); };
    hooks.plcConnected = std::move(plcConnected);
    m_control = std::make_unique<StationControl>(link, m_addr, m_conf, *m_session, hooks);
    connect(m_control.get(), &StationControl::log, this, [this](const QString &l) { m_log << l; });
    connect(m_session.get(), &LoginSession::log, this, [this](const QString &l) { m_log << l; });
    connect(m_session.get(), &LoginSession::operatorKeypadRequested, this, [this] { ++m_keypads; });
}

QStringList TstStationControl::plcLog(const QString &containing)
{
    uint8_t bit = 0;
    m_link.readBits(10, 1, &bit);
    std::lock_guard<std::mutex> lock(m_plcLogMutex);
    return m_plcLog.filter(containing);
}

void TstStationControl::startDebugAndPause()
{
    QSignalSpy working(m_control.get(), &StationControl::workingShown);
    QSignalSpy debugBox(m_control.get(), &StationControl::debugBoxShown);

    m_control->start(); // nobody logged in: the keypad, no WORK
    QCOMPARE(m_keypads, 1);
    QCOMPARE(m_log, (QStringList{"Start to work.", "Start to login in."}));
    QCOMPARE(writesTo(11), 0);

    m_session->operatorAccepted();
    m_control->start();
    m_control->start();
    QVERIFY(m_sim->coil(11));
    QCOMPARE(writesTo(11), 1);
    QCOMPARE(m_calls, QStringList{"prepare"});
    QCOMPARE(working.count(), 1);

    m_session->adminAccepted();
    m_control->setDebug(true); // refused while working
    QCOMPARE(m_messages->shown.last(),
             QStringLiteral("操作顺序检查 |请先点击‘暂停工作’按钮，才能进入调试模式"));
    QCOMPARE(debugBox.last().at(0).toBool(), false);
    QVERIFY(!g_debug_mode);

    m_control->pause();
    QVERIFY(!m_sim->coil(11));
    QVERIFY(!g_working);
    QCOMPARE(m_calls.last(), QStringLiteral("stopped"));
    m_control->setDebug(true);
    QVERIFY(g_debug_mode);
    QCOMPARE(m_log.last(), QStringLiteral("Enter debug mode."));

    m_control->start(); // refused in debug mode
    QCOMPARE(m_messages->shown.last(),
             QStringLiteral("操作顺序检查|请先点击“调试模式”复选框，取消调试模式，才可以开始工作"));
    QVERIFY(!g_working);
    QCOMPARE(writesTo(11), 2);
}

void TstStationControl::guards_data()
{
    QTest::addColumn<QString>("role");
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("box");
    QTest::addColumn<QStringList>("log");
    QTest::addColumn<int>("keypads");

    const QString admin = QStringLiteral("权限检查|") + kAdminRequired;
    QTest::newRow("setup, operator") << "op" << "setup" << admin
                                     << QStringList{"Start to set the application."} << 0;
    QTest::newRow("setup, administrator") << "admin" << "setup" << QString()
                                          << QStringList{"Start to set the application."} << 0;
    QTest::newRow("debug, operator") << "op" << "debug" << QStringLiteral("权限检查 |") + kAdminRequired
                                     << QStringList{} << 0;
    QTest::newRow("PLC setup, operator") << "op" << "plc" << admin
                                         << QStringList{"Open PLC setting."} << 0;
    QTest::newRow("PLC setup, administrator") << "admin" << "plc" << QString()
                                              << QStringList{"Open PLC setting."} << 0;
    QTest::newRow("camera, nobody")
        << "" << "camera 0" << admin
        << QStringList{"Close or open camera 0 fail, because of authorization check fail."} << 0;
    QTest::newRow("camera 3# without a camera")
        << "admin" << "camera 2" << QStringLiteral("操作失败|该机位没有检测到相机")
        << QStringList{"Close or open camera 2 fail, there is no camera in potision 0."} << 0;
    QTest::newRow("camera 1# opened") << "admin" << "camera 0" << QString()
                                      << QStringList{"Start close camera 0."} << 0;
    QTest::newRow("alarms, nobody") << "" << "alarms" << QString()
                                    << QStringList{"Open alarm dialog.", "Start to login in."} << 1;
    QTest::newRow("shift, nobody") << "" << "shift" << QString() << QStringList{"Change shift."} << 1;
    QTest::newRow("shift while working")
        << "working" << "shift"
        << QStringLiteral("状态检查|请先点击“暂停工作”按钮，进入暂停模式，才可以进行换班操作")
        << QStringList{"Change shift."} << 0;
    QTest::newRow("cancel alarm, nobody") << "" << "cancel" << QString()
                                          << QStringList{"Cancel alarm mode."} << 1;
    QTest::newRow("unkick, nobody") << "" << "unkick" << QString()
                                    << QStringList{"Start to login in."} << 1;
    QTest::newRow("pause, nobody") << "" << "pause" << QString()
                                   << QStringList{"Pause the application.", "Start to login in."} << 1;
}

void TstStationControl::guards()
{
    QFETCH(QString, role);
    QFETCH(QString, action);
    QFETCH(QString, box);
    QFETCH(QStringList, log);
    QFETCH(int, keypads);

    m_found[0] = m_opened[0] = true;
    g_admin_login = role == "admin";
    g_op_login = role == "op" || role == "working";
    g_working = role == "working";
    m_sim->setCoil(12, true);
    QSignalSpy unkick(m_control.get(), &StationControl::unkickBoxShown);
    QSignalSpy cleared(m_control.get(), &StationControl::countersCleared);

    const bool permitted = box.isEmpty() && keypads == 0;
    bool allowed = permitted;
    if (action == "setup")
        allowed = m_control->maySetUp();
    else if (action == "plc")
        allowed = m_control->mayOpenPlcSetup();
    else if (action == "alarms")
        allowed = m_control->mayOpenAlarms();
    else if (action == "debug")
        m_control->setDebug(true);
    else if (action.startsWith("camera"))
        m_control->cameraButton(action.section(' ', 1).toInt());
    else if (action == "shift")
        m_control->changeShift();
    else if (action == "cancel")
        m_control->cancelAlarm();
    else if (action == "unkick")
        m_control->setUnkick(true);
    else if (action == "pause")
        m_control->pause();

    QCOMPARE(m_messages->shown, box.isEmpty() ? QStringList() : QStringList{box});
    QCOMPARE(m_log, log);
    QCOMPARE(m_keypads, keypads);
    QCOMPARE(allowed, permitted);
    QCOMPARE(g_plc_setup_open, action == "plc" && allowed);
    QCOMPARE(cleared.count(), 0);
    QVERIFY(!g_debug_mode);
    if (action == "unkick") { // refused, and the PLC told to kick again
        QCOMPARE(unkick.last().at(0).toBool(), false);
        QVERIFY(!m_sim->coil(12));
    }
    QCOMPARE(m_calls, action == "camera 0" && permitted ? QStringList{"close 0"} : QStringList());
}

void TstStationControl::heldForAdministrator_data()
{
    QTest::addColumn<QString>("who");   // auto: start-up's automatic start; plc: the same, PLC late
    QTest::addColumn<bool>("works");
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("log");
    const QString skipped =
        QStringLiteral("Automatic start skipped: the settings must be checked by the administrator first.");
    QTest::newRow("automatic start") << "auto" << false << QString() << skipped;
    QTest::newRow("automatic start, PLC answers later") << "plc" << false << QString() << skipped;
    QTest::newRow("operator") << "op" << false
                              << QStringLiteral("设置检查|设置文件不完整或相机配方为0，请先点击解锁按钮，"
                                                "由管理员检查设置后再开始工作")
                              << "Start to work refused: the settings must be checked by the administrator first.";
    QTest::newRow("administrator releases it") << "admin" << true << QString() << "Start to work.";
}

void TstStationControl::heldForAdministrator()
{
    QFETCH(QString, who);
    QFETCH(bool, works);
    QFETCH(QString, box);
    QFETCH(QString, log);
    QSignalSpy held(m_control.get(), &StationControl::heldForAdministratorShown);
    m_control->holdForAdministrator(true);
    g_admin_login = who == "admin";
    g_op_login = who == "op";
    if (who == "plc") {
        m_link.closeLink();
        m_control->linkOpenedAtStart();
    }
    if (who == "auto" || who == "plc")
        QVERIFY(!m_control->startAutomatically());
    else
        m_control->start();
    if (who == "plc") {
        m_control->tick(); // the PLC answers
        QVERIFY(m_link.connected());
    }
    QCOMPARE(m_sim->coil(11), works);
    QCOMPARE(m_messages->shown.join(QLatin1Char(';')), box);
    QVERIFY2(m_log.contains(log), qPrintable(m_log.join('\n')));
    QCOMPARE(m_control->heldForAdministrator(), !works);
    QCOMPARE(held.count(), works ? 2 : 1);
}

void TstStationControl::unkickByOperator()
{
    m_session->operatorAccepted();
    QSignalSpy box(m_control.get(), &StationControl::unkickBoxShown);
    m_control->setUnkick(true);
    QVERIFY(m_sim->coil(12));
    m_control->setUnkick(false);
    QVERIFY(!m_sim->coil(12));
    QCOMPARE(m_log.mid(1), (QStringList{"Enter unkick mode.", "Exit unkick mode."}));
    QCOMPARE(box.count(), 2);
    QCOMPARE(box.at(0).at(0).toBool(), true);

    m_sim->setAnswering(false); // a refused write is a failure, not a mode change
    m_control->setUnkick(true);
    m_sim->setAnswering(true);
    QCOMPARE(m_log.last(), QStringLiteral("Enter or exit unkick mode fail."));
    QCOMPARE(box.last().at(0).toBool(), false);
}

void TstStationControl::resetPulse_data()
{
    QTest::addColumn<int>("address");
    QTest::newRow("configured") << 14;
    QTest::newRow("not configured") << 0;
}

void TstStationControl::resetPulse()
{
    QFETCH(int, address);
    m_addr.RESET = address;
    m_control->reset(); // no login needed, and the GUI thread is not held
    QCOMPARE(m_sim->coil(14), address > 0);
    QTRY_COMPARE(plcLog(QStringLiteral("write coil")).size(), address > 0 ? 2 : 0);
    QVERIFY(!m_sim->coil(14));
    QVERIFY(m_log.isEmpty());
}

void TstStationControl::loginCountdowns()
{
    QSignalSpy role(m_session.get(), &LoginSession::roleShown);
    QSignalSpy label(m_session.get(), &LoginSession::userLabelShown);
    m_session->operatorAccepted();
    m_session->adminAccepted();
    QVERIFY(!m_session->timer_op.isActive());
    QVERIFY(m_session->timer_admin.isActive());
    for (int s = 1; s < StationState::kAdminLoginSeconds; ++s)
        m_session->adminTick();
    QVERIFY(g_admin_login);
    QCOMPARE(label.last().at(0).toString(), QStringLiteral("1"));
    m_session->adminTick();
    QVERIFY(!g_admin_login && !g_op_login);
    QCOMPARE(role.last().at(0).toString(), QStringLiteral("未登录"));
    QCOMPARE(m_log.last(), QStringLiteral("Lock the application."));
    QVERIFY(!m_session->timer_admin.isActive());

    m_session->operatorAccepted();
    for (int s = 0; s < StationState::kOperatorLoginSeconds; ++s)
        m_session->operatorTick();
    QVERIFY(!g_op_login);
    QVERIFY(!m_session->timer_op.isActive());
    QCOMPARE(label.last().at(0).toString(), QStringLiteral("登录用户："));
}

void TstStationControl::runTime_data()
{
    QTest::addColumn<qint64>("seconds");
    QTest::addColumn<QString>("text");
    QTest::newRow("a day, an hour, a minute, a second") << qint64(90061) << "运行1天1时1分1秒";
    QTest::newRow("just under an hour") << qint64(3599) << "运行0天0时59分59秒";
    QTest::newRow("start") << qint64(0) << "运行0天0时0分0秒";
}

void TstStationControl::runTime()
{
    QFETCH(qint64, seconds);
    QFETCH(QString, text);
    m_now = g_start_time.addSecs(seconds);
    QSignalSpy clock(m_control.get(), &StationControl::clockShown);
    m_control->tick();
    QCOMPARE(clock.at(0).at(1).toString(), text);
    QCOMPARE(clock.at(0).at(0).toString(), m_now.toString("yyyy-MM-dd hh:mm:ss"));
}

void TstStationControl::alarmSequences_data()
{
    QTest::addColumn<QList<int>>("codes"); // -1: the operator acknowledges
    QTest::addColumn<bool>("totalRefused"); // QUANTITY at an address the PLC answers with an exception
    QTest::addColumn<QList<int>>("recorded");
    QTest::addColumn<QString>("shown");
    QTest::newRow("3, 3") << QList<int>{3, 3} << false << QList<int>{3} << "1#相机有剔除";
    QTest::newRow("3, 0, 3") << QList<int>{3, 0, 3} << false << QList<int>{3, 3} << "1#相机有剔除";
    QTest::newRow("3, acknowledged, 3") << QList<int>{3, -1, 3} << false << QList<int>{3, 3} << "1#相机有剔除";
    QTest::newRow("3, 5, 3") << QList<int>{3, 5, 3} << false << QList<int>{3, 5, 3} << "1#相机有剔除";
    QTest::newRow("6, 0") << QList<int>{6, 0} << false << QList<int>{6} << "无报警";
    QTest::newRow("9 ignored") << QList<int>{9} << false << QList<int>{} << QString();
    QTest::newRow("total refused, 3, 0, 3") << QList<int>{3, 0, 3} << true << QList<int>{3, 3} << "1#相机有剔除";
}

void TstStationControl::alarmSequences()
{
    QFETCH(QList<int>, codes);
    QFETCH(bool, totalRefused);
    QFETCH(QList<int>, recorded);
    QFETCH(QString, shown);
    if (totalRefused)
        m_addr.QUANTITY = 300;
    QSignalSpy alarm(m_control.get(), &StationControl::alarmShown);
    QSignalSpy plc(m_control.get(), &StationControl::plcShown);
    QSignalSpy raised(m_control.get(), &StationControl::alarmRaised);
    QSignalSpy acknowledged(m_control.get(), &StationControl::alarmAcknowledged);
    for (int code : codes) {
        if (code < 0) {
            g_op_login = true;
            m_control->cancelAlarm();
            continue;
        }
        m_sim->setAlarm(code);
        m_control->tick();
        m_now = m_now.addSecs(1);
    }
    QCOMPARE(g_alarm_history.size(), recorded.size());
    for (int i = 0; i < recorded.size(); ++i) {
        QCOMPARE(g_alarm_history.at(i).code, recorded.at(i));
        QCOMPARE(g_alarm_history.at(i).message, g_alarm_texts.at(recorded.at(i)));
    }
    if (!recorded.isEmpty())
        QCOMPARE(g_alarm_history.first().startTime, QStringLiteral("2026-03-02 08:00:00"));
    QCOMPARE(alarm.isEmpty() ? QString() : alarm.last().at(0).toString(), shown);
    QCOMPARE(m_log.filter(QStringLiteral(" raised: ")).size(), recorded.size());
    // The plant hears of each occurrence as the history records it.
    QCOMPARE(raised.size(), recorded.size());
    for (int i = 0; i < recorded.size(); ++i)
        QCOMPARE(raised.at(i), (QList<QVariant>{recorded.at(i), g_alarm_history.at(i).message,
                                                g_alarm_history.at(i).startTime}));
    QCOMPARE(acknowledged.size(), codes.count(-1));
    if (!acknowledged.isEmpty())
        QCOMPARE(acknowledged.first(), (QList<QVariant>{3, g_alarm_history.first().message,
                                                        g_alarm_history.first().startTime,
                                                        g_alarm_history.first().handleTime}));
    // A refused total shows on the PLC label, as a failed read does.
    QCOMPARE(plc.last().at(0).toString(), totalRefused ? QStringLiteral("PLC断开") : QStringLiteral("PLC在线"));
}

void TstStationControl::reconnectAndCancel()
{
    m_found[0] = m_opened[0] = true;
    QSignalSpy alarm(m_control.get(), &StationControl::alarmShown);
    m_sim->setAlarm(7);
    m_control->tick();
    QCOMPARE(alarm.last().at(0).toString(), QStringLiteral("重连1#相机"));
    QCOMPARE(m_calls, QStringList{"close 0"});
    QCOMPARE(m_sim->alarm(), 0);
    QVERIFY(g_alarm_history.isEmpty());
    QTimer *reopen = m_control->openCamTimer(0);
    QVERIFY(reopen->isActive() && reopen->isSingleShot());
    QCOMPARE(reopen->interval(), 2000);
    QVERIFY(QMetaObject::invokeMethod(reopen, "timeout", Qt::DirectConnection));
    QCOMPARE(m_calls, (QStringList{"close 0", "keep 0", "open 0"}));
    // A reopening that failed leaves the camera closed; the next request opens it.
    m_opened[0] = false;
    m_sim->setAlarm(7);
    m_control->tick();
    QVERIFY(reopen->isActive());
    QVERIFY(QMetaObject::invokeMethod(reopen, "timeout", Qt::DirectConnection));
    QCOMPARE(m_calls, (QStringList{"close 0", "keep 0", "open 0", "keep 0", "open 0"}));

    // The operator acknowledges an alarm: register cleared, its handling time stamped.
    m_sim->setAlarm(4);
    m_control->tick();
    m_session->operatorAccepted();
    m_now = m_now.addSecs(5);
    m_control->cancelAlarm();
    QCOMPARE(m_sim->alarm(), 0);
    QCOMPARE(g_alarm_history.last().handleTime, m_now.toString("yyyy-MM-dd hh:mm:ss"));
    QCOMPARE(alarm.last().at(0).toString(), QStringLiteral("无报警"));
}

void TstStationControl::reconnectWhileWorking_data()
{
    QTest::addColumn<bool>("working");
    QTest::addColumn<bool>("lostFirst");      // the camera went away while the line ran
    QTest::addColumn<int>("openFailures");
    QTest::addColumn<bool>("operatorPauses"); // before the camera is back
    QTest::addColumn<QStringList>("calls");
    QTest::addColumn<bool>("workingAfter");

    QTest::newRow("working, back at once")
        << true << false << 0 << false << QStringList{"stopped", "close 0", "keep 0", "open 0", "prepare"} << true;
    QTest::newRow("working, back at the second try")
        << true << false << 1 << false
        << QStringList{"stopped", "close 0", "keep 0", "open 0", "keep 0", "open 0", "prepare"} << true;
    QTest::newRow("working, the operator pauses meanwhile")
        << true << false << 0 << true << QStringList{"stopped", "close 0", "keep 0", "open 0"} << false;
    QTest::newRow("working, camera lost before")
        << true << true << 0 << false << QStringList{"stopped", "close 0", "open 0", "prepare"} << true;
    QTest::newRow("paused") << false << false << 0 << false << QStringList{"close 0", "keep 0", "open 0"} << false;
    QTest::newRow("paused, camera lost before")
        << false << true << 0 << false << QStringList{"close 0", "keep 0", "open 0"} << false;
}

// No box passes a closed camera: a working line stands while its camera reconnects, and
// the boxes between camera and ejector keep their numbers unless the line ran unseen.
void TstStationControl::reconnectWhileWorking()
{
    QFETCH(bool, working);
    QFETCH(bool, lostFirst);
    QFETCH(int, openFailures);
    QFETCH(bool, operatorPauses);
    QFETCH(QStringList, calls);
    QFETCH(bool, workingAfter);
    m_found[0] = m_opened[0] = true;
    m_session->operatorAccepted();
    if (working)
        m_control->start();
    QCOMPARE(m_sim->coil(11), working);
    m_calls.clear();
    if (lostFirst)
        m_control->cameraLost(0);
    m_openFailures[0] = openFailures;
    m_sim->setAlarm(7);
    m_control->tick();
    QVERIFY(!m_sim->coil(11));
    QVERIFY(!g_working);
    if (operatorPauses)
        m_control->pause();
    QVERIFY(QMetaObject::invokeMethod(m_control->openCamTimer(0), "timeout", Qt::DirectConnection));
    QVERIFY(!m_sim->coil(11) || !openFailures);
    QTimer *retry = m_control->openRetryTimer(0);
    for (int i = 0; retry->isActive() && i < 5; ++i)
        QVERIFY(QMetaObject::invokeMethod(retry, "timeout", Qt::DirectConnection));
    QVERIFY(m_opened[0]);
    QCOMPARE(m_calls, calls);
    QCOMPARE(m_sim->coil(11), workingAfter);
    QCOMPARE(g_working, workingAfter);
    QCOMPARE(m_log.filter("Work goes on: camera 1# is back.").size(), workingAfter ? 1 : 0);
}

void TstStationControl::openCamera_data()
{
    QTest::addColumn<int>("failures");
    QTest::addColumn<QStringList>("refused");
    QTest::addColumn<QList<int>>("retries"); // ms before each retry
    QTest::addColumn<QStringList>("log");
    QTest::addColumn<QString>("trouble");     // the band's line once it is open

    const QString camera = QStringLiteral("Camera 2# (Balluff, user ID 3)");
    const QString cannotEject = QStringLiteral("Camera 2# cannot eject: its output Line4, Line4 LineSource was refused.");
    QTest::newRow("opens") << 0 << QStringList() << QList<int>() << QStringList() << QString();
    QTest::newRow("fails six times")
        << 6 << QStringList() << QList<int>{2000, 4000, 8000, 16000, 30000, 30000}
        << QStringList{camera + " could not be opened; trying again.", camera + " opened after 7 tries."}
        << QString();
    QTest::newRow("refuses its reject output")
        << 0 << QStringList{"Line4", "Line4 LineSource"} << QList<int>() << QStringList{cannotEject} << cannotEject;
}

void TstStationControl::openCamera()
{
    QFETCH(int, failures);
    QFETCH(QStringList, refused);
    QFETCH(QList<int>, retries);
    QFETCH(QStringList, log);
    QFETCH(QString, trouble);
    m_found[1] = true;
    m_openFailures[1] = failures;
    m_refused[1] = refused;
    QSignalSpy troubles(m_control.get(), &StationControl::cameraTrouble);
    QSignalSpy shown(m_control.get(), &StationControl::cameraShown);
    QTimer *retry = m_control->openRetryTimer(1);
    QList<int> intervals;
    m_control->openCamera(1);
    while (retry->isActive() && intervals.size() < 10) {
        intervals << retry->interval();
        QVERIFY(QMetaObject::invokeMethod(retry, "timeout", Qt::DirectConnection));
    }
    QCOMPARE(intervals, retries);
    QVERIFY(m_opened[1]);
    QCOMPARE(m_log, log);
    QCOMPARE(shown.last(), (QVariantList{1, true}));
    if (failures > 0) {
        QCOMPARE(shown.first(), (QVariantList{1, false}));
        QCOMPARE(troubles.first().at(1).toString(), QStringLiteral("Camera 2# (Balluff, user ID 3) cannot be opened."));
    }
    QCOMPARE(troubles.last().at(1).toString(), trouble);

    // An open that sets the output up clears the line; said once per open, not again.
    m_refused[1].clear();
    m_opened[1] = false;
    QVERIFY(m_control->openCamera(1));
    QCOMPARE(troubles.last().at(1).toString(), QString());
    QCOMPARE(m_log, log);
}

void TstStationControl::unidentifiedCamera_data()
{
    QTest::addColumn<bool>("byRequest");
    QTest::addColumn<int>("readFailures");
    QTest::addColumn<QList<int>>("retries"); // ms before each read
    QTest::addColumn<int>("tries");
    QTest::newRow("read again on the back-off") << false << 2 << QList<int>{2000, 4000, 8000} << 4;
    QTest::newRow("read again at alarm 8") << true << 0 << QList<int>{2000} << 2;
}

void TstStationControl::unidentifiedCamera()
{
    QFETCH(bool, byRequest);
    QFETCH(int, readFailures);
    QFETCH(QList<int>, retries);
    QFETCH(int, tries);
    m_unidentified = QStringList{"Balluff, device 0"};
    m_readFailures = readFailures;
    m_control->identifyLater();
    QCOMPARE(m_log, QStringList{"Camera Balluff, device 0 could not be opened to read its user ID, so it"
                                " has no position yet; trying again."});
    QTimer *identify = m_control->identifyTimer();
    QList<int> intervals;
    if (byRequest) {
        intervals << identify->interval();
        m_sim->setAlarm(8);
        m_control->tick();
        QVERIFY(m_calls.isEmpty()); // opened 2 s after the request, as any reconnect
        QTimer *reopen = m_control->openCamTimer(1);
        QVERIFY(reopen->isActive());
        QVERIFY(QMetaObject::invokeMethod(reopen, "timeout", Qt::DirectConnection));
    }
    while (identify->isActive() && intervals.size() < 10) {
        intervals << identify->interval();
        QVERIFY(QMetaObject::invokeMethod(identify, "timeout", Qt::DirectConnection));
    }
    QCOMPARE(intervals, retries);
    QCOMPARE(m_calls, (QStringList{"keep 1", "open 1"}));
    QCOMPARE(m_log.last(), QStringLiteral("Camera 2# (Balluff, user ID 3) opened after %1 tries.").arg(tries));
}

void TstStationControl::stopTriggeredShift()
{
    m_conf.AUTO_SHIFT = 1;
    m_addr.KICK1 = m_addr.KICK2 = m_addr.ALARM = 0; // one read a tick
    g_op_login = true;
    m_control->start();
    m_sim->setPair(110, 500);
    auto shifts = [this] { return plcLog(QStringLiteral("SHIFT pulse")).size(); };
    for (int t = 1; t <= 39; ++t) // samples at 10 (moved from 0), 20, 30
        m_control->tick();
    QCOMPARE(shifts(), 0);
    m_control->tick(); // the third unchanged sample
    QCOMPARE(shifts(), 1);
    QVERIFY(g_working);
    QVERIFY(g_op_login); // lent and given back
    QCOMPARE(writesTo(11), 3); // started, paused, started again
    // The PLC's total went back to 0 with the shift: that is not a new stop.
    for (int t = 41; t <= 90; ++t)
        m_control->tick();
    QCOMPARE(shifts(), 1);
    m_sim->setPair(110, 20); // the machine ran, then stops again
    for (int t = 91; t <= 130; ++t)
        m_control->tick();
    QCOMPARE(shifts(), 2);
}

void TstStationControl::timedShift_data()
{
    QTest::addColumn<QTime>("previous");
    QTest::addColumn<QTime>("now");
    QTest::addColumn<bool>("shifted");
    QTest::newRow("at 14:00:00") << QTime(13, 59, 59) << QTime(14, 0, 0) << true;
    QTest::newRow("second skipped by the timer") << QTime(13, 59, 59) << QTime(14, 0, 1) << true;
    QTest::newRow("a second before") << QTime(13, 59, 58) << QTime(13, 59, 59) << false;
    QTest::newRow("seconds after") << QTime(14, 0, 1) << QTime(14, 0, 2) << false;
    QTest::newRow("first tick at 14:00:00") << QTime() << QTime(14, 0, 0) << true;
    QTest::newRow("first tick after 14:00:00") << QTime() << QTime(14, 0, 1) << false;
}

void TstStationControl::timedShift()
{
    QFETCH(QTime, previous);
    QFETCH(QTime, now);
    QFETCH(bool, shifted);
    TempStation station;
    m_conf.TIMING_SHIFT = 1;
    m_conf.SHIFT_A = QTime(6, 0);
    m_conf.SHIFT_B = QTime(14, 0);
    m_conf.SHIFT_C = QTime(22, 0);
    m_found[0] = m_opened[0] = true;
    g_op_login = true;
    m_control->start();
    m_sim->setPair(110, 1000);
    m_sim->setPair(100, 25);
    if (previous.isValid()) {
        m_now = QDateTime(m_now.date(), previous);
        m_control->tick();
    }
    m_now = QDateTime(m_now.date(), now);
    QSignalSpy recorded(m_control.get(), &StationControl::shiftRecorded);
    m_control->tick();
    QCOMPARE(plcLog(QStringLiteral("SHIFT pulse")).size(), shifted ? 1 : 0);
    // The plant gets the line as the file has it, for the opened camera only.
    QCOMPARE(recorded.size(), shifted ? 1 : 0);
    if (shifted)
        QCOMPARE(recorded.first(), (QList<QVariant>{0, QStringLiteral("B     总产量:0000001000      剔除率:2.50000%      合格率:97.50000%")}));
    const QByteArray statistics = TempStation::read(QStringLiteral("../conf/camera0_statistic.txt"));
    QCOMPARE(statistics.contains("2026-03-02 :\n"), shifted);
    QCOMPARE(statistics.contains("B     "), shifted);
    QCOMPARE(statistics.contains("2.50000"), shifted);
    QCOMPARE(g_last_shift, shifted ? 1 : ShiftStatistics::kNoShiftWritten);
    QVERIFY(!QFile::exists(QStringLiteral("../conf/camera1_statistic.txt"))); // not opened
}

void TstStationControl::manualShift()
{
    g_op_login = true;
    m_sim->setPair(110, 777);
    m_sim->setAlarm(3);
    QSignalSpy cleared(m_control.get(), &StationControl::countersCleared);
    QSignalSpy last(m_control.get(), &StationControl::lastTotalShown);
    QSignalSpy button(m_control.get(), &StationControl::shiftButtonEnabled);
    m_control->changeShift();
    QCOMPARE(cleared.count(), 1);
    QCOMPARE(last.at(0).at(0).toInt(), 777);
    QCOMPARE(m_sim->pair(110), 0u);
    QCOMPARE(m_sim->alarm(), 0);
    QVERIFY(!m_sim->coil(10));
    QCOMPARE(button.count(), 1);
    QCOMPARE(button.at(0).at(0).toBool(), false);
    QVERIFY(m_control->timer_shift.isActive() && m_control->timer_shift.isSingleShot());
    QCOMPARE(m_control->timer_shift.interval(), 5000);
    QVERIFY(QMetaObject::invokeMethod(&m_control->timer_shift, "timeout", Qt::DirectConnection));
    QCOMPARE(button.last().at(0).toBool(), true);
}

void TstStationControl::plcParameters()
{
    QList<PlcParam> rows;
    rows << PlcParam{"Delay", 40010, "", 70000} << PlcParam{"Empty box", 20, "", 1}
         << PlcParam{"Unused", 0, "", 5};
    QCOMPARE(sendPlcParams(m_link, rows), 2);
    QCOMPARE(m_sim->reg(40010), uint16_t(4464));
    QCOMPARE(m_sim->reg(40011), uint16_t(1));
    QVERIFY(m_sim->coil(20));
    QVERIFY(plcLog(QStringLiteral("refused")).isEmpty());
}

void TstStationControl::withoutPlc()
{
    ModbusLink unconnected;
    makeControl(&unconnected);
    QSignalSpy plc(m_control.get(), &StationControl::plcShown);
    QSignalSpy clock(m_control.get(), &StationControl::clockShown);
    g_op_login = true;
    m_control->start();
    QVERIFY(!g_working);
    QVERIFY(!m_control->startAutomatically());
    QVERIFY(m_calls.isEmpty());
    m_control->tick();
    QCOMPARE(clock.count(), 1); // the clock goes on
    QCOMPARE(plc.count(), 0);
    m_control->setUnkick(true);
    QCOMPARE(m_log.last(), QStringLiteral("Enter or exit unkick mode fail."));
    QVERIFY(!m_control->mayOpenPlcSetup());
    QCOMPARE(m_messages->shown.last(), QStringLiteral("硬件问题|请先确保PLC连接成功，再进入PLC设置"));
}

void TstStationControl::silentPlc()
{
    // The PLC restarted while it was silent: the WORK signal is gone.
    int connectedCalls = 0;
    makeControl(&m_link, [&] { ++connectedCalls; });
    m_control->linkOpenedAtStart();
    QCOMPARE(connectedCalls, 1);
    QSignalSpy plc(m_control.get(), &StationControl::plcShown);
    g_working = true;
    m_sim->setCoil(m_addr.WORK, false);
    m_sim->setAnswering(false);
    // Asked at the first tick (no answer), then again after 1, 2, 4 and 8 ticks, each
    // time on a reopened port; left alone between.
    const QString expected = QStringLiteral("110100010000000");
    QString asked;
    for (int t = 0; t < expected.size(); ++t) {
        const int before = m_sim->requestCount();
        m_control->tick();
        asked += m_sim->requestCount() > before ? '1' : '0';
    }
    QCOMPARE(asked, expected);
    QCOMPARE(m_log.filter(QStringLiteral("PLC link lost: no answer")).size(), 1);
    QVERIFY(!m_link.connected());
    m_sim->setAnswering(true);
    m_conf.AUTO_WORK = 1;
    m_control->tick();
    QVERIFY(m_link.connected());
    QCOMPARE(m_log.filter(QStringLiteral("PLC link is back.")).size(), 1);
    QCOMPARE(plc.last().at(0).toString(), QStringLiteral("PLC在线"));
    QCOMPARE(connectedCalls, 2); // plc.txt written again
    QVERIFY(m_sim->coil(m_addr.WORK)); // work goes on, as AUTO_WORK says
    QVERIFY(g_working);
}

QTEST_GUILESS_MAIN(TstStationControl)
#include "tst_stationcontrol.moc"
