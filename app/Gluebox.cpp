#include "Gluebox.h"

#include "ui_Gluebox.h"

#include "CLog.h"
#include "CleanupRunner.h"
#include "DebugMode.h"
#include "ModbusLink.h"
#include "Passwords.h"
#include "PlcAddrMap.h"
#include "PlcState.h"
#include "Rotation.h"
#include "ShiftStatistics.h"
#include "StationQueues.h"
#include "StationState.h"
#include "SysConf.h"

#include <QThread>
#include <QTimer>

#include <cstdio>

Gluebox::Gluebox(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::Gluebox)
{
    ui->setupUi(this);

    const bool rotateRead = readRotate();

    startLog();
    emit sengMsgToClog(QStringLiteral("Application Start."));

    StationQueues::create();
    g_last_shift = ShiftStatistics::kNoShiftWritten;
    if (!rotateRead) {
        for (int k = 0; k < 4; ++k) {
            g_rotate[k] = Rotation::kNone;
            g_rotate_enable[k] = false;
        }
        if (!writeRotate()) {
            std::printf("\nFail to write message to file.");
            std::fflush(stdout);
        }
    }

    g_debug_mode = false;
    g_admin_login = false;
    g_admin_remaining = StationState::kAdminLoginSeconds;
    g_admin_pswd = readAdminPassword();
    g_op_login = false;
    g_op_remaining = StationState::kOperatorLoginSeconds;
    g_op_pswd = readOperatorPassword();
    g_working = false;

    g_alarm_texts = PlcState::defaultAlarmTexts();
    g_last_alarm_code = 0;
    g_start_time = QDateTime::currentDateTime();

    g_plc_setup_open = false;
    g_last_quantity = 0;
    g_same_quantity_count = 0;
    g_shift_tick = 0;

    readConfFile(g_sys_conf);
    g_plc_addr.clear();
    readPlcAddrMap(g_plc_addr);

    m_save_thread = std::make_unique<SaveThread>(g_save_queue);
    m_save_thread->start(QThread::HighestPriority);

    g_modbus = new ModbusLink;
    g_modbus->openLink();
    g_modbus->printConnectionMessage();

    m_cleanup = new CleanupRunner(this);
    timer_clean = new QTimer(this);
    connect(timer_clean, &QTimer::timeout, this, &Gluebox::CleanThreadStartAuto);
    timer_clean->start(3600000);
}

void Gluebox::CleanThreadStart()
{
    m_cleanup->start(false);
}

void Gluebox::CleanThreadStartAuto()
{
    m_cleanup->start(true);
}

Gluebox::~Gluebox()
{
    emit sengMsgToClog(QStringLiteral("Application exited."));
    delete m_cleanup; // cancels and waits for a cleanup still running
    m_cleanup = nullptr;
    m_save_thread.reset(); // writes what is queued, then stops
    StationQueues::release();
    stopLog();
    delete g_modbus;
    g_modbus = nullptr;
    delete ui;
}

void Gluebox::startLog()
{
    m_log_thread = new QThread;
    m_log = new CLog;
    m_log->moveToThread(m_log_thread);
    connect(m_log_thread, &QThread::finished, m_log, &QObject::deleteLater);
    connect(this, &Gluebox::sengMsgToClog, m_log, &CLog::recMegFromGluebox);
    m_log_thread->start(QThread::InheritPriority);
}

void Gluebox::stopLog()
{
    // Quit from inside the log thread, behind the messages still queued for it, so the
    // last lines reach the file before the thread ends.
    QThread *thread = m_log_thread;
    QMetaObject::invokeMethod(m_log, [thread] { thread->quit(); }, Qt::QueuedConnection);
    if (!thread->wait(5000)) {
        std::fprintf(stderr, "Operation log thread did not stop in time\n");
        return; // leave it running rather than destroy a thread that still works
    }
    delete thread;
    m_log_thread = nullptr;
    m_log = nullptr;
}
