#include "Gluebox.h"

#include "ui_Gluebox.h"

#include "CLog.h"
#include "CameraRegistry.h"
#include "CleanupRunner.h"
#include "DebugMode.h"
#include "GlueDotDetector.h"
#include "LineSimulator.h"
#include "ModbusLink.h"
#include "Passwords.h"
#include "PlcAddrMap.h"
#include "PlcState.h"
#include "Rotation.h"
#include "ShiftStatistics.h"
#include "SimulatedStation.h"
#include "StationPaths.h"
#include "StationQueues.h"
#include "StationState.h"
#include "SysConf.h"

#include <QMessageBox>

#include <QThread>
#include <QTimer>

#include <cstdio>
#include <unistd.h>

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

    startCameras();

    m_cleanup = new CleanupRunner(this);
    timer_clean = new QTimer(this);
    connect(timer_clean, &QTimer::timeout, this, &Gluebox::CleanThreadStartAuto);
    timer_clean->start(3600000);
}

void Gluebox::startCameras()
{
#ifndef GLUEBOX_VENDOR_SDKS
    m_simulation = std::make_unique<SimulatedStation>(
        SimulatedStation::read(StationPaths::cameraSimFile()));
    m_simulation->install();
#endif
    std::printf(" Enumerate Cameras...\n");
    std::fflush(stdout);
    EnumerateCameras(g_cameras, true, g_sys_conf);

    for (int i = 0; i < 4; ++i) {
        if (!g_cameras[i].found)
            continue;
        m_work_threads[i] = std::make_unique<WorkThread>();
        m_work_threads[i]->init(g_image_queue[i], g_cameras[i].vendor, i);
        connect(m_work_threads[i].get(), &WorkThread::event_ok, this, &Gluebox::OnOKHub);
        connect(m_work_threads[i].get(), &WorkThread::event_ng, this, &Gluebox::OnNGHub);
        m_work_threads[i]->start(QThread::HighestPriority);
        m_debug_threads[i] = std::make_unique<DebugThread>();
        m_debug_threads[i]->init(i, g_debug_queue[i]);
        m_debug_threads[i]->start(QThread::HighestPriority);
        if (!g_detector[i].initDetector()) {
            QMessageBox::information(nullptr, QStringLiteral("系统自检失败"),
                                     QStringLiteral("AI模型1初始化失败，请检查程序完整性"));
            std::fflush(stdout);
            ::_exit(-1); // at once: the threads started so far are not wound down
        }
    }
    if (g_sys_conf.AUTO_OPEN == 1) {
        for (int i = 0; i < 4; ++i)
            if (g_cameras[i].found)
                SetCameraOpen(i, true);
    }
    DisableDebugMode();
#ifndef GLUEBOX_VENDOR_SDKS
    m_simulation->line().start(m_simulation->settings().productsPerMinute);
#endif
}

void Gluebox::stopCameras()
{
#ifndef GLUEBOX_VENDOR_SDKS
    if (m_simulation)
        m_simulation->line().stop();
#endif
    CameraRegistry::instance().closeAll();
    for (int i = 0; i < 4; ++i) {
        m_work_threads[i].reset();
        m_debug_threads[i].reset();
    }
#ifndef GLUEBOX_VENDOR_SDKS
    m_simulation.reset();
#endif
}

void Gluebox::OnOKHub(int Num)
{
    if (Num >= 0 && Num < 4 && g_result_list[Num])
        g_result_list[Num]->push(true);
}

void Gluebox::OnNGHub(int Num)
{
    if (Num >= 0 && Num < 4 && g_result_list[Num])
        g_result_list[Num]->push(false);
}

void Gluebox::EnableDebugMode()
{
    CameraRegistry::instance().EnableDebugMode();
}

void Gluebox::DisableDebugMode()
{
    CameraRegistry::instance().DisableDebugMode();
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
    stopCameras(); // cameras, then the inspection threads that they feed
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
