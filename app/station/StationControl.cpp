#include "StationControl.h"

#include "DebugMode.h"
#include "LoginSession.h"
#include "ModbusLink.h"
#include "PlcAddrMap.h"
#include "PlcState.h"
#include "PlcStatistics.h"
#include "ShiftStatistics.h"
#include "StationState.h"
#include "SysConf.h"
#include "UserMessages.h"

#include <QTextCodec>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <utility>

namespace {
const QString kGreen = QStringLiteral("background-color: rgb(0, 170, 0);");
const QString kYellow = QStringLiteral("background-color: rgb(255, 255, 0);");
const QString kRed = QStringLiteral("background-color: rgb(255, 0, 0);");
const QString kTimeFormat = QStringLiteral("yyyy-MM-dd hh:mm:ss");
const QString kAdminRequired = QStringLiteral("请先点击解锁按钮，进入管理员模式");

void information(const QString &title, const QString &text)
{
    UserMessages::instance().information(title, text);
}

// The alarm record keeps its times and text either as Qt values or as the texts shown.
[[maybe_unused]] void assign(QDateTime &field, const QString &text) { field = QDateTime::fromString(text, kTimeFormat); }
[[maybe_unused]] void assign(QByteArray &field, const QString &text) { field = text.toUtf8(); }
[[maybe_unused]] void assign(QString &field, const QString &text) { field = text; }

StationHooks withDefaults(StationHooks h)
{
    if (!h.now)
        h.now = [] { return QDateTime::currentDateTime(); };
    if (!h.prepareWork)
        h.prepareWork = [] {};
    if (!h.workStopped)
        h.workStopped = [] {};
    if (!h.setDebugMode)
        h.setDebugMode = [](bool) {};
    if (!h.cameraFound)
        h.cameraFound = [](int) { return false; };
    if (!h.cameraOpened)
        h.cameraOpened = [](int) { return false; };
    if (!h.setCameraOpen)
        h.setCameraOpen = [](int, bool) { return false; };
    if (!h.sleepMs)
        h.sleepMs = [](int ms) { QThread::msleep(ms); };
    if (!h.plcConnected)
        h.plcConnected = [] {};
    if (!h.cameraName)
        h.cameraName = [](int) { return QString(); };
    if (!h.rejectRefused)
        h.rejectRefused = [](int) { return QStringList(); };
    if (!h.unidentifiedCameras)
        h.unidentifiedCameras = [] { return QStringList(); };
    if (!h.identifyCameras)
        h.identifyCameras = [] { return QList<int>(); };
    if (!h.keepBoxesAhead)
        h.keepBoxesAhead = [](int) {};
    return h;
}
} // namespace

StationControl::StationControl(ModbusLink *link, const PlcAddrMap &addr, const SysConf &conf,
                               LoginSession &session, StationHooks hooks, QObject *parent)
    : QObject(parent)
    , m_link(link)
    , m_addr(addr)
    , m_conf(conf)
    , m_session(session)
    , m_hooks(withDefaults(std::move(hooks)))
{
    timer_shift.setSingleShot(true);
    connect(&timer_shift, &QTimer::timeout, this, [this] { emit shiftButtonEnabled(true); });
    for (int i = 0; i < 4; ++i) {
        m_open_cam_timer[i].setSingleShot(true);
        connect(&m_open_cam_timer[i], &QTimer::timeout, this, [this, i] { reopenCamera(i); });
        m_open_retry[i].setSingleShot(true);
        connect(&m_open_retry[i], &QTimer::timeout, this, [this, i] { openCamera(i); });
    }
    m_identify_timer.setSingleShot(true);
    connect(&m_identify_timer, &QTimer::timeout, this, [this] { identifyCameras(); });
    // Pulsed by a timer rather than a sleep: verdicts must keep reaching the reject outputs.
    m_reset_timer.setSingleShot(true);
    connect(&m_reset_timer, &QTimer::timeout, this, [this] { writeCoil(m_addr.RESET, 0); });
}

bool StationControl::plcConnected() const
{
    return m_link && m_link->connected();
}

bool StationControl::plcFree() const
{
    return plcConnected() && !g_plc_setup_open;
}

int StationControl::writeCoil(int addr, int value)
{
    // An unconfigured signal is not written: coil 0 may be anything on the PLC.
    if (addr <= 0 || !plcConnected())
        return 0;
    return m_link->writeBit(addr, value);
}

int StationControl::clearAlarmRegisters()
{
    const uint16_t zeros[2] = {0, 0};
    if (m_addr.ALARM <= 0 || !plcConnected())
        return 0;
    return m_link->writeRegisters(m_addr.ALARM, 2, zeros);
}

StationControl::Read StationControl::readPair(int addr, int32_t &value)
{
    uint16_t regs[2] = {0, 0};
    if (addr <= 0 || !plcConnected())
        return Read::Failed;
    const int n = m_link->readRegisters(addr, 2, regs);
    if (n < 0 && ModbusLink::isNoAnswer(errno))
        return Read::NoAnswer;
    if (n != 2)
        return Read::Failed;
    value = static_cast<int32_t>(uint32_t(regs[0]) | (uint32_t(regs[1]) << 16));
    return Read::Ok;
}

namespace {
void say(const QString &line)
{
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}
} // namespace

void StationControl::linkOpenedAtStart()
{
    if (!m_link)
        return;
    if (m_link->connected()) {
        m_ever_connected = true;
        emit plcShown(QStringLiteral("PLC正常"), kGreen);
        m_hooks.plcConnected();
        return;
    }
    emit plcShown(QStringLiteral("PLC断开"), kYellow);
    const QString line = QStringLiteral("PLC link could not be opened (%1: %2); trying again.")
                             .arg(m_link->device(), m_link->openError());
    say(line);
    emit log(line);
    m_lost = true;
    m_retry_in = m_retry_delay = 1;
}

void StationControl::linkLost()
{
    const QString why = QString::fromLocal8Bit(modbus_strerror(errno));
    m_link->closeLink();
    m_lost = true;
    m_retry_in = m_retry_delay = 1;
    emit plcShown(QStringLiteral("PLC断开"), kYellow);
    const QString line = QStringLiteral("PLC link lost: no answer (%1); trying again.").arg(why);
    say(line);
    emit log(line);
}

bool StationControl::reconnect()
{
    if (--m_retry_in > 0)
        return false;
    auto tryLater = [this] {
        m_retry_delay = std::min(2 * m_retry_delay, kMaxRetryTicks);
        m_retry_in = m_retry_delay;
        return false;
    };
    if (!m_link->reopen())
        return tryLater();
    // A port that opens may have no PLC behind it: one read tells.
    const int probe = m_addr.QUANTITY > 0 ? m_addr.QUANTITY : m_addr.ALARM;
    if (probe > 0) {
        uint16_t regs[2] = {0, 0};
        if (m_link->readRegisters(probe, 2, regs) < 0 && ModbusLink::isNoAnswer(errno)) {
            m_link->closeLink();
            return tryLater();
        }
    }
    linkBack();
    return true;
}

void StationControl::linkBack()
{
    m_lost = false;
    m_retry_delay = 1;
    const QString line = m_ever_connected ? QStringLiteral("PLC link is back.")
                                          : QStringLiteral("PLC connected.");
    m_ever_connected = true;
    say(line);
    emit log(line);
    emit plcShown(QStringLiteral("PLC在线"), kGreen);
    m_hooks.plcConnected();
    resumeWork();
}

void StationControl::resumeWork()
{
    if (g_working) {
        // A PLC that restarted has forgotten the WORK signal: the machine stands.
        uint8_t work = 1;
        if (m_addr.WORK <= 0 || m_link->readBits(m_addr.WORK, 1, &work) != 1 || work)
            return;
        if (m_conf.AUTO_WORK == 1 && writeCoil(m_addr.WORK, 1) > 0) {
            emit log(QStringLiteral("Work goes on: the PLC had lost the WORK signal."));
        } else {
            emit log(QStringLiteral("The PLC came back paused: the station pauses too."));
            leaveWork();
        }
    } else if (m_auto_work_pending && m_conf.AUTO_WORK == 1) {
        m_auto_work_pending = false;
        if (startAutomatically())
            emit log(QStringLiteral("Start to work."));
    }
}

bool StationControl::enterWork()
{
    // From now on the line runs past every camera that does not see it.
    for (int p = 0; p < 4; ++p) {
        m_resume_after_reconnect[p] = false;
        if (!m_hooks.cameraOpened(p) || m_camera_lost[p])
            m_unseen_boxes[p] = true;
    }
    m_hooks.prepareWork();
    // Unconfigured WORK: nothing to tell the PLC. A refused write leaves the station
    // paused, so that the screen never shows work that the machine does not do.
    if (m_addr.WORK > 0 && writeCoil(m_addr.WORK, 1) <= 0) {
        m_hooks.workStopped();
        emit log(QStringLiteral("Start to work fail, the PLC did not take the WORK signal."));
        return false;
    }
    g_working = true;
    emit workingShown(true);
    return true;
}

void StationControl::leaveWork()
{
    if (m_addr.WORK > 0 && writeCoil(m_addr.WORK, 0) <= 0)
        emit log(QStringLiteral("Pause the application fail, the PLC did not take the WORK signal."));
    g_working = false;
    m_hooks.workStopped();
    emit workingShown(false);
}

void StationControl::start()
{
    emit log(QStringLiteral("Start to work."));
    if (!LoginSession::loggedIn()) {
        m_session.requestOperatorLogin();
        return;
    }
    if (m_held_for_admin && !LoginSession::admin()) {
        emit log(QStringLiteral("Start to work refused: the settings must be checked by the administrator first."));
        information(QStringLiteral("设置检查"),
                    QStringLiteral("设置文件不完整或相机配方为0，请先点击解锁按钮，由管理员检查设置后再开始工作"));
        return;
    }
    if (!plcConnected()) {
        LoginSession::resetOperatorCountdown();
        return;
    }
    if (g_debug_mode) {
        information(QStringLiteral("操作顺序检查"),
                    QStringLiteral("请先点击“调试模式”复选框，取消调试模式，才可以开始工作"));
        return;
    }
    if ((g_working || enterWork()) && m_held_for_admin)
        holdForAdministrator(false);
    LoginSession::resetOperatorCountdown();
}

void StationControl::holdForAdministrator(bool hold)
{
    if (hold == m_held_for_admin)
        return;
    m_held_for_admin = hold;
    emit heldForAdministratorShown(hold);
}

bool StationControl::startAutomatically()
{
    if (m_held_for_admin) {
        emit log(QStringLiteral("Automatic start skipped: the settings must be checked by the administrator first."));
        return false;
    }
    if (!plcConnected()) {
        m_auto_work_pending = true;
        return false;
    }
    m_auto_work_pending = false;
    return g_working || enterWork();
}

void StationControl::pause()
{
    emit log(QStringLiteral("Pause the application."));
    if (!LoginSession::loggedIn()) {
        m_session.requestOperatorLogin();
        return;
    }
    // The operator's pause holds over a reconnect's.
    for (bool &resume : m_resume_after_reconnect)
        resume = false;
    if (plcConnected() && g_working)
        leaveWork();
    LoginSession::resetOperatorCountdown();
}

void StationControl::stopForExit()
{
    if (plcConnected() && g_working)
        leaveWork();
}

void StationControl::setDebug(bool checked)
{
    if (!LoginSession::admin()) {
        information(QStringLiteral("权限检查 "), kAdminRequired);
        emit debugBoxShown(false);
    } else if (checked && g_working) {
        information(QStringLiteral("操作顺序检查 "),
                    QStringLiteral("请先点击‘暂停工作’按钮，才能进入调试模式"));
        emit debugBoxShown(false);
    } else {
        emit log(checked ? QStringLiteral("Enter debug mode.") : QStringLiteral("Exit debug mode."));
        m_hooks.setDebugMode(checked);
        emit debugBoxShown(checked);
    }
}

void StationControl::setUnkick(bool checked)
{
    if (!LoginSession::loggedIn()) {
        m_session.requestOperatorLogin();
        emit unkickBoxShown(false);
        writeCoil(m_addr.NO_KICK, 0);
        return;
    }
    // A write the PLC refused is a failure too: the box shows what the PLC holds.
    if (!plcConnected() || (m_addr.NO_KICK > 0 && writeCoil(m_addr.NO_KICK, checked) <= 0)) {
        emit unkickBoxShown(plcConnected() ? !checked : false);
        emit log(QStringLiteral("Enter or exit unkick mode fail."));
        return;
    }
    emit log(checked ? QStringLiteral("Enter unkick mode.") : QStringLiteral("Exit unkick mode."));
    emit unkickBoxShown(checked);
}

void StationControl::reset()
{
    writeCoil(m_addr.RESET, 1);
    m_reset_timer.start(1000);
}

void StationControl::cameraButton(int position)
{
    if (position < 0 || position >= 4)
        return;
    if (!LoginSession::admin()) {
        emit log(QStringLiteral("Close or open camera %1 fail, because of authorization check fail.")
                     .arg(position));
        information(QStringLiteral("权限检查"), kAdminRequired);
        return;
    }
    if (!m_hooks.cameraFound(position)) {
        emit log(QStringLiteral("Close or open camera %1 fail, there is no camera in potision 0.")
                     .arg(position));
        information(QStringLiteral("操作失败"), QStringLiteral("该机位没有检测到相机"));
        return;
    }
    const bool open = !m_hooks.cameraOpened(position);
    emit log(QStringLiteral("Start %1 camera %2.")
                 .arg(open ? QStringLiteral("open") : QStringLiteral("close"))
                 .arg(position));
    if (open) {
        openCamera(position);
    } else if (m_hooks.setCameraOpen(position, false)) {
        noteCameraGone(position);
        emit cameraShown(position, false);
    }
}

bool StationControl::maySetUp()
{
    emit log(QStringLiteral("Start to set the application."));
    if (LoginSession::admin())
        return true;
    information(QStringLiteral("权限检查"), kAdminRequired);
    return false;
}

bool StationControl::mayOpenPlcSetup()
{
    emit log(QStringLiteral("Open PLC setting."));
    if (!plcConnected()) {
        information(QStringLiteral("硬件问题"), QStringLiteral("请先确保PLC连接成功，再进入PLC设置"));
        return false;
    }
    if (!LoginSession::admin()) {
        information(QStringLiteral("权限检查"), kAdminRequired);
        return false;
    }
    g_plc_setup_open = true;
    return true;
}

bool StationControl::mayOpenAlarms()
{
    emit log(QStringLiteral("Open alarm dialog."));
    if (!LoginSession::loggedIn()) {
        m_session.requestOperatorLogin();
        return false;
    }
    LoginSession::resetOperatorCountdown();
    return true;
}

void StationControl::changeShift()
{
    emit log(QStringLiteral("Change shift."));
    if (!LoginSession::loggedIn()) {
        m_session.showOperatorKeypad();
        return;
    }
    if (g_working) {
        information(QStringLiteral("状态检查"),
                    QStringLiteral("请先点击“暂停工作”按钮，进入暂停模式，才可以进行换班操作"));
        return;
    }
    emit shiftButtonEnabled(false);
    timer_shift.start(5000);
    m_hooks.sleepMs(500);
    emit countersCleared();
    if (plcFree()) {
        if (m_addr.QUANTITY > 0) {
            uint16_t regs[2] = {0, 0};
            const int n = m_link->readRegisters(m_addr.QUANTITY, 2, regs);
            std::printf("%d\n", n);
            std::fflush(stdout);
            if (n > 0)
                emit lastTotalShown(static_cast<int32_t>(uint32_t(regs[0]) | (uint32_t(regs[1]) << 16)));
        }
        if (m_addr.SHIFT > 0) {
            writeCoil(m_addr.SHIFT, 1);
            clearAlarmRegisters();
        }
    }
    LoginSession::resetOperatorCountdown();
}

void StationControl::cancelAlarm()
{
    emit log(QStringLiteral("Cancel alarm mode."));
    if (!LoginSession::loggedIn()) {
        m_session.showOperatorKeypad();
        return;
    }
    if (clearAlarmRegisters() > 0) {
        emit alarmShown(QStringLiteral("无报警"), kGreen);
        if (!g_alarm_history.isEmpty()) {
            AlarmRecord &last = g_alarm_history.last();
            assign(last.handleTime, m_hooks.now().toString(kTimeFormat));
            emit log(QStringLiteral("Alarm %1 acknowledged.").arg(last.code));
            emit alarmAcknowledged(last.code, last.message, last.startTime, last.handleTime);
        }
        // Raised again after this, it is a new occurrence.
        g_last_alarm_code = 0;
    }
    LoginSession::resetOperatorCountdown();
}

QString StationControl::runTimeText(qint64 s)
{
    const qint64 days = s / 86400;
    const qint64 hours = (s - days * 86400) / 3600;
    return QStringLiteral("运行%1天%2时%3分%4秒")
        .arg(days)
        .arg(hours)
        .arg((s % 3600) / 60)
        .arg(s % 60);
}

void StationControl::tick()
{
    const QDateTime now = m_hooks.now();
    const QString nowText = now.toString(kTimeFormat);
    emit clockShown(nowText, runTimeText(g_start_time.secsTo(now)));

    // Only a PLC that does not answer at all is left alone for a while: each try costs a
    // response time-out on this thread. One that refuses a request is there, and every
    // other read goes on, the alarm above all.
    if (m_link && m_lost && !reconnect()) {
        m_previous_tick = now;
        return;
    }
    if (plcFree() && !poll(now, nowText))
        linkLost();
    m_previous_tick = now;
}

bool StationControl::poll(const QDateTime &now, const QString &nowText)
{
    if (m_addr.QUANTITY > 0) {
        int32_t total = 0;
        const Read read = readPair(m_addr.QUANTITY, total);
        if (read == Read::NoAnswer)
            return false;
        if (read == Read::Failed) {
            emit plcShown(QStringLiteral("PLC断开"), kYellow);
        } else {
            emit totalShown(total);
            emit plcShown(QStringLiteral("PLC在线"), kGreen);
            automaticShift(total, now);
        }
    }
    for (int k = 0; k < 4 && plcFree(); ++k) {
        int32_t kicks = 0;
        const Read read = m_addr.kick(k) > 0 ? readPair(m_addr.kick(k), kicks) : Read::Failed;
        if (read == Read::NoAnswer)
            return false;
        if (read == Read::Ok)
            emit kickShown(k, kicks);
    }
    if (plcFree() && m_addr.ALARM > 0) {
        uint16_t regs[2] = {0, 0};
        const int n = m_link->readRegisters(m_addr.ALARM, 2, regs);
        if (n < 0 && ModbusLink::isNoAnswer(errno))
            return false;
        if (n >= 1)
            handleAlarm(regs[0], nowText);
    }
    return true;
}

void StationControl::handleAlarm(int code, const QString &now)
{
    if (code == 0) {
        // A code that comes back after this is a new occurrence, recorded again.
        g_last_alarm_code = 0;
        emit alarmShown(QStringLiteral("无报警"), kGreen);
    } else if (code <= 6) {
        const QStringList texts =
            g_alarm_texts.size() > code ? g_alarm_texts : PlcState::defaultAlarmTexts();
        emit alarmShown(texts.at(code), kRed);
        if (code != g_last_alarm_code) {
            AlarmRecord record;
            assign(record.startTime, now);
            assign(record.message, texts.at(code));
            record.code = code;
            g_alarm_history.append(record);
            g_last_alarm_code = code;
            emit log(QStringLiteral("Alarm %1 raised: %2.").arg(code).arg(texts.at(code)));
            emit alarmRaised(code, record.message, record.startTime);
        }
    } else if (code <= 8) {
        const int position = code - 7;
        emit log(QStringLiteral("The PLC asks to reconnect camera %1#.").arg(position + 1));
        emit alarmShown(QStringLiteral("重连%1#相机").arg(position + 1), kGreen);
        reconnectCamera(position);
        clearAlarmRegisters();
    }
}

void StationControl::automaticShift(int32_t total, const QDateTime &now)
{
    if (!g_working)
        return;
    if (m_conf.AUTO_SHIFT != 0) {
        if (++g_shift_tick % 10 != 0)
            return;
        if (total == g_last_quantity) {
            // Exactly the third unchanged sample: one stop makes one change.
            if (++g_same_quantity_count == 3) {
                shiftSequence(total, -1);
                // The PLC begins the new shift's total at 0: that is no sign that the line
                // ran, so it must not start another count towards a change.
                int32_t after = total;
                g_last_quantity = readPair(m_addr.QUANTITY, after) == Read::Ok ? after : total;
                return;
            }
        } else {
            g_same_quantity_count = 0;
        }
        g_last_quantity = total;
    } else if (m_conf.TIMING_SHIFT != 0) {
        const int index = timedShiftIndex(now);
        if (index >= 0)
            shiftSequence(total, index);
    }
}

int StationControl::timedShiftIndex(const QDateTime &now) const
{
    const QTime times[3] = {m_conf.SHIFT_A, m_conf.SHIFT_B, m_conf.SHIFT_C};
    for (int i = 0; i < 3; ++i) {
        const QDateTime at(now.date(), times[i]);
        if (at == now)
            return i;
        // The timer may skip a second when the GUI thread was busy: a shift time passed
        // since the previous tick (at most a minute ago) still counts, once.
        if (m_previous_tick.isValid() && m_previous_tick < at && at <= now
            && m_previous_tick.secsTo(now) <= 60)
            return i;
    }
    return -1;
}

void StationControl::shiftSequence(int32_t total, int shiftIndex)
{
    // The operator's login is lent for the sequence and given back as it was.
    const bool wasOperator = g_op_login;
    g_op_login = true;
    pause();
    if (shiftIndex >= 0) {
        std::array<bool, ShiftStatistics::kPositions> opened{};
        for (int k = 0; k < ShiftStatistics::kPositions; ++k)
            opened[k] = m_hooks.cameraOpened(k);
        const auto kicks = readKickCounts(g_plc_setup_open ? nullptr : m_link, m_addr);
        ShiftStatistics::appendShiftStatistics(total, shiftIndex, kicks, opened,
                                               m_hooks.now().date());
        static QTextCodec *const gbk = QTextCodec::codecForName("GBK");
        for (int k = 0; k < ShiftStatistics::kPositions && total >= 1; ++k)
            if (opened[k])
                emit shiftRecorded(k, gbk->toUnicode(ShiftStatistics::shiftLine(shiftIndex, total, kicks[k])).trimmed());
    }
    changeShift();
    start();
    g_op_login = wasOperator;
}

void StationControl::reconnectCamera(int position)
{
    if (position < 0 || position >= 4)
        return;
    // Its camera may be one whose user ID could not be read at enumeration.
    if (!m_hooks.cameraFound(position))
        identifyCameras(position);
    if (!m_hooks.cameraFound(position))
        return;
    // A camera that is closed already (its last reopening failed: still unplugged then)
    // is only opened: the PLC's next request must still bring it back.
    if (m_hooks.cameraOpened(position)) {
        if (g_working) {
            emit log(QStringLiteral("Work pauses while camera %1# reconnects, so that no box passes it unseen.")
                         .arg(position + 1));
            leaveWork();
            m_resume_after_reconnect[position] = true;
        }
        if (!m_hooks.setCameraOpen(position, false)) {
            resumeAfterReconnect(position);
            return;
        }
        noteCameraGone(position);
        emit cameraShown(position, false);
    }
    m_open_cam_timer[position].start(2000);
}

void StationControl::reopenCamera(int position)
{
    openCamera(position);
}

void StationControl::cameraLost(int position)
{
    if (position < 0 || position >= 4)
        return;
    m_camera_lost[position] = true;
    noteCameraGone(position);
}

void StationControl::noteCameraGone(int position)
{
    if (g_working)
        m_unseen_boxes[position] = true;
}

void StationControl::resumeAfterReconnect(int position)
{
    if (!std::exchange(m_resume_after_reconnect[position], false) || g_working)
        return;
    for (bool other : m_resume_after_reconnect)
        if (other)
            return; // another camera's reconnect still holds the line
    if (enterWork())
        emit log(QStringLiteral("Work goes on: camera %1# is back.").arg(position + 1));
}

namespace {
int nextRetryMs(int previousMs)
{
    return previousMs <= 0 ? StationControl::kFirstCameraRetryMs
                           : std::min(2 * previousMs, StationControl::kMaxCameraRetryMs);
}
} // namespace

QString StationControl::cameraTitle(int position) const
{
    const QString name = m_hooks.cameraName(position);
    return name.isEmpty() ? QStringLiteral("Camera %1#").arg(position + 1)
                          : QStringLiteral("Camera %1# (%2)").arg(position + 1).arg(name);
}

bool StationControl::openCamera(int position)
{
    if (position < 0 || position >= 4 || !m_hooks.cameraFound(position))
        return false;
    if (m_hooks.cameraOpened(position))
        return true;
    if (!m_unseen_boxes[position])
        m_hooks.keepBoxesAhead(position);
    if (!m_hooks.setCameraOpen(position, true)) {
        cameraOpenFailed(position);
        return false;
    }
    cameraOpened(position);
    return true;
}

void StationControl::cameraOpenFailed(int position)
{
    const bool firstOfRun = m_open_retry_ms[position] == 0;
    ++m_open_failures[position];
    m_open_retry_ms[position] = nextRetryMs(m_open_retry_ms[position]);
    m_open_retry[position].start(m_open_retry_ms[position]);
    emit cameraShown(position, false);
    if (!firstOfRun)
        return;
    const QString line = QStringLiteral("%1 could not be opened; trying again.").arg(cameraTitle(position));
    say(line);
    emit log(line);
    emit cameraTrouble(position, QStringLiteral("%1 cannot be opened.").arg(cameraTitle(position)));
}

void StationControl::cameraOpened(int position)
{
    m_open_retry[position].stop();
    if (m_open_failures[position] > 0) {
        const QString line = QStringLiteral("%1 opened after %2 tries.")
                                 .arg(cameraTitle(position))
                                 .arg(m_open_failures[position] + 1);
        say(line);
        emit log(line);
    }
    m_open_failures[position] = 0;
    m_open_retry_ms[position] = 0;
    m_unseen_boxes[position] = false;
    m_camera_lost[position] = false;
    const QStringList refused = m_hooks.rejectRefused(position);
    if (refused.isEmpty()) {
        emit cameraTrouble(position, QString());
    } else {
        // It still inspects (its counters and images go on); the operator must see that
        // its bad boxes pass.
        const QString line = QStringLiteral("Camera %1# cannot eject: its output %2 was refused.")
                                 .arg(position + 1)
                                 .arg(refused.join(QStringLiteral(", ")));
        say(line);
        emit log(line);
        emit cameraTrouble(position, line);
    }
    emit cameraShown(position, true);
    resumeAfterReconnect(position);
}

void StationControl::identifyLater()
{
    const QStringList names = m_hooks.unidentifiedCameras();
    if (names.isEmpty())
        return;
    for (const QString &name : names) {
        const QString line = QStringLiteral("Camera %1 could not be opened to read its user ID, so it"
                                            " has no position yet; trying again.")
                                 .arg(name);
        say(line);
        emit log(line);
    }
    m_identify_failures = 1; // enumeration's read
    m_identify_retry_ms = kFirstCameraRetryMs;
    m_identify_timer.start(m_identify_retry_ms);
}

void StationControl::identifyCameras(int reconnecting)
{
    if (m_hooks.unidentifiedCameras().isEmpty())
        return;
    const QList<int> bound = m_hooks.identifyCameras();
    for (int p : bound) {
        const QString line = QStringLiteral("%1 is identified: its user ID could be read now.").arg(cameraTitle(p));
        say(line);
        emit log(line);
        const bool opensNow = p != reconnecting && m_conf.AUTO_OPEN == 1;
        // Its earlier reads count as tries of the run that its open ends.
        m_open_failures[p] = (opensNow || p == reconnecting) ? m_identify_failures : 0;
        if (opensNow)
            openCamera(p);
    }
    if (m_hooks.unidentifiedCameras().isEmpty()) {
        m_identify_timer.stop();
        m_identify_failures = 0;
        m_identify_retry_ms = 0;
        return;
    }
    ++m_identify_failures;
    m_identify_retry_ms = nextRetryMs(m_identify_retry_ms);
    m_identify_timer.start(m_identify_retry_ms);
}

void StationControl::stopCameraRetries()
{
    m_identify_timer.stop();
    for (int i = 0; i < 4; ++i) {
        m_open_retry[i].stop();
        m_open_cam_timer[i].stop();
    }
}
