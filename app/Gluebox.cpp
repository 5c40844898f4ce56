#include "Gluebox.h"

#include "ui_Gluebox.h"

#include "AlarmDialog.h"
#include "CLog.h"
#include "CameraBackends.h"
#include "DialogSetup.h"
#include "DialogSetupPasswd.h"
#include "Dialogin.h"
#include "LoginSession.h"
#include "PlcSetup.h"
#include "PlcStartup.h"
#include "StationControl.h"
#include "UserMessages.h"
#include "WriteTroubles.h"
#include "CameraRegistry.h"
#include "AravisHikApi.h"
#include "CleanupRunner.h"
#include "ImageStore.h"
#include "DebugMode.h"
#include "GlueDotDetector.h"
#include "LineAccount.h"
#include "MonitorConf.h"
#include "PlantPublisher.h"
#include "LineSimulator.h"
#include "ModbusLink.h"
#include "Passwords.h"
#include "PlcAddrMap.h"
#include "PlcState.h"
#include "ProductAccount.h"
#include "Rotation.h"
#include "ShiftStatistics.h"
#include "SimulatedStation.h"
#include "StationPaths.h"
#include "StationQueues.h"
#include "StationState.h"
#include "SysConf.h"
#include "db_label.h"

#include <QApplication>
#include <QCheckBox>
#include <QDate>
#include <QDebug>
#include <QElapsedTimer>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QLCDNumber>
#include <QPixmap>
#include <QProcess>
#include <QSignalMapper>
#include <QStandardPaths>
#include <QToolButton>

#include <QThread>
#include <QTimer>

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

Gluebox::Gluebox(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::GlueboxClass)
{
    ui->setupUi(this);
    setupDisplay();
    // Before the log and the saving thread: their first trouble may come at once.
    m_troubles = new WriteTroubles(this);
    connect(m_troubles, &WriteTroubles::log, this, &Gluebox::sengMsgToClog);
    connect(m_troubles, &WriteTroubles::shown, this,
            [this, formHeight = ui->label_trouble->height()](const QString &text, const QString &style) {
        QLabel *band = ui->label_trouble;
        band->setText(text);
        band->setStyleSheet(style);
        // More lines than the form's height holds: it grows upwards from the images' foot.
        const int bottom = band->y() + band->height();
        const int height = std::max(formHeight, band->heightForWidth(band->width()));
        band->setGeometry(band->x(), bottom - height, band->width(), height);
        band->setVisible(!text.isEmpty());
    });
    if (!UserMessages::installed()) {
        UserMessages::install(&m_message_boxes);
        m_owns_messages = true;
    }

    SettingsRead found;
    const bool rotateRead = readRotate(&found);

    startLog();
    emit sengMsgToClog(QStringLiteral("Application Start."));

    StationQueues::create();
    g_last_shift = ShiftStatistics::kNoShiftWritten;
    // Only a missing file is made anew: one that is there but unreadable may still tell
    // someone the plant's rotations, so it stays until the operator saves a rotation.
    if (found.state == SettingsRead::Missing)
        resetRotation();
    else if (!rotateRead)
        Rotation::setNone();
    m_troubles->settingsTrouble(StationPaths::rotateFile(), found.detail);

    g_debug_mode = false;
    g_admin_login = false;
    g_admin_remaining = StationState::kAdminLoginSeconds;
    g_admin_pswd = readAdminPassword(&found);
    m_troubles->settingsTrouble(StationPaths::adminPasswordFile(), found.detail);
    g_op_login = false;
    g_op_remaining = StationState::kOperatorLoginSeconds;
    g_op_pswd = readOperatorPassword(&found);
    m_troubles->settingsTrouble(StationPaths::operatorPasswordFile(), found.detail);
    g_working = false;

    g_alarm_texts = PlcState::defaultAlarmTexts();
    g_last_alarm_code = 0;
    g_start_time = QDateTime::currentDateTime();

    g_plc_setup_open = false;
    g_last_quantity = 0;
    g_same_quantity_count = 0;
    g_shift_tick = 0;

    SettingsRead confFound;
    readConfFile(g_sys_conf, &confFound);
    m_troubles->settingsTrouble(StationPaths::confFile(), confFound.detail);
    g_plc_addr.clear();
    readPlcAddrMap(g_plc_addr);

    m_save_thread = std::make_unique<SaveThread>(g_save_queue);
    connect(m_save_thread.get(), &SaveThread::saveTrouble, m_troubles, &WriteTroubles::saveTrouble);
    connect(&m_save_thread->relief(), &CleanupRunner::spaceReport, this, &Gluebox::sengMsgToClog);
    m_save_thread->start(QThread::HighestPriority);

    g_modbus = new ModbusLink;
    g_modbus->openLink();
    g_modbus->printConnectionMessage();
    createControl();
    m_control->linkOpenedAtStart();

    startPlantLink();
    startCameras();
    // Settings that may pass every defect are not put to work without an administrator.
    if (showZeroRecipes() || !confFound.whole())
        m_control->holdForAdministrator(true);
    startTimers();

    ui->checkBox_debug->setEnabled(false);
    for (QLabel *label : m_label_reslut)
        label->hide();
    ui->label_role->setText(QStringLiteral("未登录"));

    if (g_sys_conf.AUTO_WORK == 1)
        startWorkAutomatically();
}

void Gluebox::startCameras()
{
    // Before the simulated line's threads draw pictures with OpenCV.
    GlueDotDetector::chooseBackend();
#ifndef GLUEBOX_VENDOR_SDKS
    // conf/camsim.txt asks for the simulated line; without it the cameras are real ones,
    // reached through GenICam, and nothing is simulated.
    bool simulated = false;
    SimulatedStation::Settings settings = SimulatedStation::read(StationPaths::cameraSimFile(), &simulated);
    if (simulated) {
        m_simulation = std::make_unique<SimulatedStation>(std::move(settings));
        m_simulation->install();
    } else {
        m_genicam = std::make_unique<AravisHikApi>();
        cameraBackends() = CameraBackends();
        cameraBackends().hik = m_genicam.get();
        std::printf("No %s: looking for GenICam cameras (GigE Vision, USB3 Vision).\n",
                    qPrintable(StationPaths::cameraSimFile()));
        std::fflush(stdout);
    }
#endif
    std::printf(" Enumerate Cameras...\n");
    std::fflush(stdout);
    EnumerateCameras(g_cameras, true, g_sys_conf);

    for (int i = 0; i < 4; ++i) {
        QString reason;
        if (g_cameras[i].found && !startPosition(i, &reason))
            failSelfCheck(i, reason);
    }
    if (g_sys_conf.AUTO_OPEN == 1) {
        for (int i = 0; i < 4; ++i)
            if (g_cameras[i].found)
                m_control->openCamera(i);
    }
    showCameraStates();
    m_control->identifyLater();
    DisableDebugMode();
#ifndef GLUEBOX_VENDOR_SDKS
    if (m_simulation) {
        m_line_account = new LineAccount(*m_simulation, g_cameras, this);
        if (m_plant)
            connect(m_line_account, &LineAccount::accounted, m_plant, [plant = m_plant](const std::vector<LineAccount::Row> &rows) {
                QJsonArray positions;
                for (const LineAccount::Row &r : rows)
                    positions.append(QJsonObject{{"camera", r.position + 1},
                                                 {"products", r.line.products},
                                                 {"ng", r.line.ngProducts},
                                                 {"ejected_right", r.line.correctEjections},
                                                 {"ng_missed", r.line.missedEjections},
                                                 {"good_ejected", r.line.wrongEjections},
                                                 {"cut_wrongly", static_cast<double>(r.cutWrongly)},
                                                 {"late", static_cast<double>(r.late)},
                                                 {"judged_wrong", r.line.judgedWrong},
                                                 {"paired_wrong", r.line.pairedWrong}});
                plant->lineAccount(positions);
            });
        m_line_account->start(10000);
    } else if (m_genicam) {
        m_genicam_account = new QTimer(this);
        connect(m_genicam_account, &QTimer::timeout, this, &Gluebox::printGenicamAccount);
        m_genicam_account->start(10000);
    }
#endif
}

void Gluebox::startPlantLink()
{
    const int port = g_sys_conf.MonitorPort;
    if (port == 0)
        return;
    QStringList problems;
    const MonitorConf conf = MonitorConf::read(StationPaths::monitorFile(), &problems);
    m_troubles->settingsTrouble(StationPaths::monitorFile(), problems.join(QLatin1Char('\n')));
    if (port < 0 || port > 65535) {
        m_troubles->settingsTrouble(QStringLiteral("MonitorPort"),
                                    QStringLiteral("MonitorPort=%1 in conf.txt is not a port (1 to 65535): "
                                                   "nothing is published to the plant.").arg(port));
        return;
    }
    m_plant = new PlantPublisher(QString::fromStdString(g_sys_conf.MonitorIP), port, conf, this);
    connect(m_plant, &PlantPublisher::trouble, m_troubles, &WriteTroubles::plantTrouble);
    connect(m_control, &StationControl::totalShown, m_plant, &PlantPublisher::plcTotal);
    connect(m_control, &StationControl::kickShown, m_plant, &PlantPublisher::kicks);
    connect(m_control, &StationControl::countersCleared, m_plant, &PlantPublisher::countersCleared);
    connect(m_control, &StationControl::alarmRaised, m_plant, &PlantPublisher::alarmRaised);
    connect(m_control, &StationControl::alarmAcknowledged, m_plant, &PlantPublisher::alarmAcknowledged);
    connect(m_control, &StationControl::shiftRecorded, m_plant, &PlantPublisher::shiftRecorded);
    // Straight from the saving thread: the publisher only queues.
    connect(m_save_thread.get(), &SaveThread::requestHandled, m_plant,
            [plant = m_plant](const QString &path, bool written) { plant->imageSaved(path, written); },
            Qt::DirectConnection);
    m_plant->start();
}

void Gluebox::printGenicamAccount()
{
#ifndef GLUEBOX_VENDOR_SDKS
    // What the line account is for the simulated line: frames that came broken never
    // reach a product, and a product without all its frames whole is not judged.
    for (int p = 0; p < 4; ++p) {
        HikHandle handle = CameraRegistry::instance().hikHandle(p);
        if (!m_genicam || !g_cameras[p].opened || !handle)
            continue;
        const AravisCamera::Counters c = m_genicam->counters(handle);
        const ProductAccount &a = g_product_account[p];
        std::printf("camera %d#: frames %llu whole, %llu incomplete; products %llu, %llu not judged "
                    "(a frame missing or broken, or before the line's rhythm was known); verdicts late %llu, "
                    "not queued %llu; %llu at the ejector without a verdict (MISMATCHACT); %llu edges over half a "
                    "product late, %llu reject pulses held back at them\n",
                    p + 1, static_cast<unsigned long long>(c.frames), static_cast<unsigned long long>(c.incomplete),
                    static_cast<unsigned long long>(c.products), static_cast<unsigned long long>(c.cutShort),
                    static_cast<unsigned long long>(a.late()), static_cast<unsigned long long>(a.notQueued()),
                    static_cast<unsigned long long>(a.unjudged()), static_cast<unsigned long long>(c.lateEdges),
                    static_cast<unsigned long long>(c.heldPulses));
    }
    std::fflush(stdout);
#endif
}

bool Gluebox::startPosition(int i, QString *reason)
{
    m_work_threads[i] = std::make_unique<WorkThread>();
    m_work_threads[i]->init(g_image_queue[i], g_cameras[i].vendor, i);
    connect(m_work_threads[i].get(), &WorkThread::event_ok, this, &Gluebox::OnOKHub);
    connect(m_work_threads[i].get(), &WorkThread::event_ng, this, &Gluebox::OnNGHub);
    if (m_plant) {
        m_plant->setPresent(i);
        m_work_threads[i]->setReporter([plant = m_plant](const ProductReport &r) { plant->product(r); });
    }
    m_work_threads[i]->start(QThread::HighestPriority);
    m_debug_threads[i] = std::make_unique<DebugThread>();
    m_debug_threads[i]->init(i, g_debug_queue[i]);
    connectDisplay(i);
    m_debug_threads[i]->start(QThread::HighestPriority);
    // A missing or broken cfg or weights file raises an exception with its reason: the same
    // failed self-check as a model that finds nothing.
    bool loaded = false;
    try {
        loaded = g_detector[i].initDetector();
    } catch (const std::exception &e) {
        *reason = QString::fromLocal8Bit(e.what()).trimmed();
    } catch (...) {
        *reason = QStringLiteral("unknown error");
    }
    return loaded;
}

QList<int> Gluebox::startIdentifiedPositions()
{
    QList<int> started;
    for (int i : CameraRegistry::instance().identifyCameras()) {
        QString reason;
        if (!startPosition(i, &reason))
            failSelfCheck(i, reason); // the same model loaded for no position at start-up
        // Its detector is warmed up before its first product, as work's start does.
        if (g_working)
            batchWarmUp({i});
        started << i;
    }
    return started;
}

void Gluebox::failSelfCheck(int position, const QString &reason)
{
    const QString title = QStringLiteral("系统自检失败");
    const QString text = QStringLiteral("AI模型1初始化失败，请检查程序完整性");
    // Said on standard output and in the log before the box: nobody may be there to see it.
    std::printf("%s: %s (camera %d%s%s)\n", qPrintable(title), qPrintable(text), position + 1,
                reason.isEmpty() ? "" : ": ", qPrintable(reason));
    std::fflush(stdout);
    emit sengMsgToClog(QStringLiteral("Self-check failed, the detector of camera %1 did not load%2.")
                           .arg(position)
                           .arg(reason.isEmpty() ? QString() : QStringLiteral(": ") + reason));
    stopLog();
    UserMessages::instance().information(title, text);
    std::fflush(stdout);
    ::_exit(-1); // at once: the threads started so far are not wound down
}

void Gluebox::connectPlc()
{
    uint8_t noKick = 0;
    if (g_plc_addr.NO_KICK > 0 && g_modbus->readBits(g_plc_addr.NO_KICK, 1, &noKick) == 1)
        ui->checkBox_unkick->setChecked(noKick != 0);
    SettingsRead found;
    readPlcParams(m_plc_params, &found);
    m_troubles->settingsTrouble(StationPaths::plcParamFile(), found.detail);
    sendPlcParams(*g_modbus, m_plc_params);
}

bool Gluebox::showZeroRecipes()
{
    QStringList cameras;
    for (int i = 0; i < 4; ++i) {
        const int *no = g_sys_conf.NO[i];
        if (g_cameras[i].found && no[0] == 0 && no[1] == 0 && no[2] == 0)
            cameras << QStringLiteral("%1#").arg(i + 1);
    }
    m_troubles->settingsTrouble(
        QStringLiteral("recipe"),
        cameras.isEmpty() ? QString()
                          : QStringLiteral("Recipe 0|0|0 for camera %1: no box is ever found NG.")
                                .arg(cameras.join(QStringLiteral(", "))));
    return !cameras.isEmpty();
}

void Gluebox::settingsFileSaved(const QString &path)
{
    m_troubles->settingsTrouble(path, QString());
    if (path != StationPaths::confFile())
        return;
    showZeroRecipes();
    m_control->holdForAdministrator(false);
}

void Gluebox::startTimers()
{
    timer_status = new QTimer(this);
    connect(timer_status, &QTimer::timeout, this, &Gluebox::handleTimeout);
    timer_status->start(1000);
    m_cleanup = new CleanupRunner(this);
    connect(m_cleanup, &CleanupRunner::spaceReport, this, &Gluebox::sengMsgToClog);
    timer_clean = new QTimer(this);
    connect(timer_clean, &QTimer::timeout, this, &Gluebox::CleanThreadStartAuto);
    timer_clean->start(3600000);

    connect(ui->label_alarm, &db_label::QlabelDoubleClick, this, &Gluebox::OnCancelAlarm);
    m_camera_mapper = new QSignalMapper(this);
    for (int i = 0; i < 4; ++i) {
        connect(m_toolButton_cam[i], &QToolButton::released, m_camera_mapper,
                qOverload<>(&QSignalMapper::map));
        m_camera_mapper->setMapping(m_toolButton_cam[i], i);
    }
    connect(m_camera_mapper, &QSignalMapper::mappedInt, this, &Gluebox::OnToolButtonCamReleasedHub);
}

void Gluebox::startWorkAutomatically()
{
    // Bounded: a capture thread that never runs must not keep the window from opening.
    constexpr int kWaitMs = 5000;
    QElapsedTimer waited;
    waited.start();
    for (int i : CameraRegistry::instance().openedPositions()) {
        QThread *thread = CameraRegistry::instance().workerThread(i);
        while (thread && !thread->isRunning() && waited.elapsed() < kWaitMs)
            QThread::msleep(10);
        if (thread && !thread->isRunning())
            emit sengMsgToClog(
                QStringLiteral("Capture thread of camera %1 is not running, work starts without it.")
                    .arg(i));
    }
    m_control->startAutomatically();
}

void Gluebox::prepareWork()
{
    CameraRegistry::instance().clearForWork();
    batchWarmUp(CameraRegistry::instance().openedPositions());
#ifndef GLUEBOX_VENDOR_SDKS
    // The packing machine starts once the station is ready: no frame before the warm-up.
    if (m_simulation && !m_simulation->line().isRunning())
        m_simulation->line().start(m_simulation->settings().productsPerMinute);
#endif
}

void Gluebox::stopCameras()
{
#ifndef GLUEBOX_VENDOR_SDKS
    if (m_simulation)
        m_simulation->line().stop();
    if (m_genicam_account) {
        m_genicam_account->stop();
        printGenicamAccount(); // the run's final account
    }
    if (m_line_account) {
        m_line_account->stop();
        m_line_account->print(); // the run's final account
        delete m_line_account;
        m_line_account = nullptr;
    }
#endif
    CameraRegistry::instance().closeAll();
    for (int i = 0; i < 4; ++i) {
        m_work_threads[i].reset();
        m_debug_threads[i].reset();
    }
#ifndef GLUEBOX_VENDOR_SDKS
    m_simulation.reset();
    if (m_genicam) {
        cameraBackends().hik = nullptr;
        m_genicam.reset();
    }
#endif
}

void Gluebox::OnOKHub(int Num, qulonglong)
{
    showVerdict(Num, true);
}

void Gluebox::OnNGHub(int Num, qulonglong)
{
    showVerdict(Num, false);
}

void Gluebox::showVerdict(int Num, bool ok)
{
    if (Num < 0 || Num >= 4)
        return;
    if (ok) {
        m_lcdNumber_ok[Num]->display(++m_ok[Num]);
        m_label_reslut[Num]->setText(QStringLiteral("OK"));
        m_label_reslut[Num]->setStyleSheet(QStringLiteral("background-color: rgb(0, 255, 0);"));
    } else {
        m_lcdNumber_ng[Num]->display(++m_ng[Num]);
        m_label_reslut[Num]->setText(QStringLiteral("NG"));
        m_label_reslut[Num]->setStyleSheet(QStringLiteral("background-color: rgb(255, 0, 0);"));
    }
}

void Gluebox::setupDisplay()
{
    Ui::GlueboxClass &f = *ui;
    const std::array<QLabel *, 4> capSpeed{f.label_cap_speed_1, f.label_cap_speed_2,
                                           f.label_cap_speed_3, f.label_cap_speed_4};
    const std::array<QLabel *, 4> camStatus{f.cam_status_1, f.cam_status_2, f.cam_status_3,
                                            f.cam_status_4};
    const std::array<QLabel *, 4> camWork{f.cam_work_1, f.cam_work_2, f.cam_work_3, f.cam_work_4};
    const std::array<QToolButton *, 4> camButton{f.toolButton_cam_1, f.toolButton_cam_2,
                                                 f.toolButton_cam_3, f.toolButton_cam_4};
    const std::array<db_label *, 4> image1{f.image_label_11, f.image_label_21, f.image_label_31,
                                           f.image_label_41};
    const std::array<db_label *, 4> image2{f.image_label_12, f.image_label_22, f.image_label_32,
                                           f.image_label_42};
    const std::array<QLabel *, 4> timecost{f.label_timecost_1, f.label_timecost_2,
                                           f.label_timecost_3, f.label_timecost_4};
    const std::array<QLCDNumber *, 4> total{f.lcdNumber_total_1, f.lcdNumber_total_2,
                                            f.lcdNumber_total_3, f.lcdNumber_total_4};
    const std::array<QLabel *, 4> jdNo{f.label_jd_no_1, f.label_jd_no_2, f.label_jd_no_3,
                                       f.label_jd_no_4};
    const std::array<QLCDNumber *, 4> ok{f.lcdNumber_ok_1, f.lcdNumber_ok_2, f.lcdNumber_ok_3,
                                         f.lcdNumber_ok_4};
    const std::array<QLCDNumber *, 4> ng{f.lcdNumber_ng_1, f.lcdNumber_ng_2, f.lcdNumber_ng_3,
                                         f.lcdNumber_ng_4};
    const std::array<QLabel *, 4> result{f.label_reslut_1, f.label_reslut_2, f.label_reslut_3,
                                         f.label_reslut_4};
    const std::array<QToolButton *, 4> rotate{f.rotate_1, f.rotate_2, f.rotate_3, f.rotate_4};
    const std::array<db_label *, 4> ngLabel{f.label_ng_1, f.label_ng_2, f.label_ng_3,
                                            f.label_ng_4};

    m_image_mapper[0] = new QSignalMapper(this);
    m_image_mapper[1] = new QSignalMapper(this);
    m_ng_mapper = new QSignalMapper(this);
    m_rotate_mapper = new QSignalMapper(this);
    for (int i = 0; i < 4; ++i) {
        m_label_cap_speed[i] = capSpeed[i];
        m_cam_status[i] = camStatus[i];
        m_cam_work[i] = camWork[i];
        m_toolButton_cam[i] = camButton[i];
        m_image_label[i][0] = image1[i];
        m_image_label[i][1] = image2[i];
        m_label_timecost[i] = timecost[i];
        m_lcdNumber_total[i] = total[i];
        m_label_jd_no[i] = jdNo[i];
        m_lcdNumber_ok[i] = ok[i];
        m_lcdNumber_ng[i] = ng[i];
        m_label_reslut[i] = result[i];
        m_rotate[i] = rotate[i];
        m_label_ng[i] = ngLabel[i];

        m_full_screen[i][0] = m_full_screen[i][1] = false;
        m_check_count[i] = m_ok[i] = m_ng[i] = 0;
        m_lcdNumber_total[i]->display(0);
        // Black until the first frame, so a full-screen toggle before it shows black.
        m_last_image[i][0] = cv::Mat::zeros(20, 20, CV_8UC3);
        m_last_image[i][1] = cv::Mat::zeros(20, 20, CV_8UC3);

        for (int k = 0; k < 2; ++k) {
            connect(m_image_label[i][k], &db_label::QlabelDoubleClick, m_image_mapper[k],
                    qOverload<>(&QSignalMapper::map));
            m_image_mapper[k]->setMapping(m_image_label[i][k], i * 16 + k);
        }
        connect(m_label_ng[i], &db_label::QlabelDoubleClick, m_ng_mapper,
                qOverload<>(&QSignalMapper::map));
        m_ng_mapper->setMapping(m_label_ng[i], i);
        connect(m_rotate[i], &QToolButton::released, m_rotate_mapper,
                qOverload<>(&QSignalMapper::map));
        m_rotate_mapper->setMapping(m_rotate[i], i);
    }
    ui->lcdNumber_total_no->display(0);
    ui->lcdNumber_total_no_last->display(0);
    ui->label_trouble->hide(); // shown only while there is something to say
    for (QSignalMapper *mapper : m_image_mapper)
        connect(mapper, &QSignalMapper::mappedInt, this, &Gluebox::OnDBClickHub);
    connect(m_ng_mapper, &QSignalMapper::mappedInt, this, &Gluebox::OnDBClickNGHub);
    connect(m_rotate_mapper, &QSignalMapper::mappedInt, this, &Gluebox::OnRotateReleasedHub);
}

void Gluebox::connectDisplay(int position)
{
    m_cam_status[position]->setStyleSheet(QStringLiteral("background-color: rgb(0, 170, 0);"));
    WorkThread *work = m_work_threads[position].get();
    connect(work, &WorkThread::notify, this, &Gluebox::OnNotifyHub);
    connect(work, &WorkThread::display_timecost, this, &Gluebox::OnDisplayTimeCostHub);
    connect(work, &WorkThread::display_check_total, this, &Gluebox::OnDisplayCheckNumberHub);
    connect(work, &WorkThread::display_jd_no, this, &Gluebox::OnDisplayJdNoHub);
    connect(m_debug_threads[position].get(), &DebugThread::notify, this, &Gluebox::OnNotifyHub);
    // One registry for all positions: connected with the first one found.
    connect(&CameraRegistry::instance(), &CameraRegistry::updateStatistics, this,
            &Gluebox::updateStatisticsHub, Qt::UniqueConnection);
    connect(&CameraRegistry::instance(), &CameraRegistry::cameraLost, this,
            &Gluebox::showCameraLost, Qt::UniqueConnection);
    connect(&CameraRegistry::instance(), &CameraRegistry::windowsWithoutFrames, this,
            &Gluebox::logWindowsWithoutFrames, Qt::UniqueConnection);
}

void Gluebox::logWindowsWithoutFrames(int position, qulonglong firstProduct)
{
    int mismatchAct;
    {
        QMutexLocker locker(&g_sys_conf.lock);
        mismatchAct = g_sys_conf.MISMATCHACT;
    }
    const QString action = mismatchAct == 1   ? QStringLiteral("each is ejected")
                           : mismatchAct == 0 ? QStringLiteral("each is passed")
                                              : QStringLiteral("no reject output is given for them");
    const QString text = QStringLiteral("Camera %1#: product windows close without a frame, from product %2 on; "
                                        "%3 (MISMATCHACT=%4).")
                             .arg(position + 1)
                             .arg(firstProduct)
                             .arg(action)
                             .arg(mismatchAct);
    std::printf("%s\n", qPrintable(text));
    std::fflush(stdout);
    emit sengMsgToClog(text);
}

void Gluebox::showCameraStates()
{
    for (int i = 0; i < 4; ++i)
        if (g_cameras[i].opened)
            showCamera(i, true);
}

void Gluebox::OnNotifyHub(int Num, int Cnt, cv::Mat m)
{
    if (Num < 0 || Num >= 4 || Cnt < 0 || Cnt > 1)
        return;
    QLabel *label = m_image_label[Num][Cnt];
    // m shares the sender's pixels; resizing gives it a buffer of its own.
    if (!m.empty())
        cv::resize(m, m, cv::Size(label->width(), label->height()), 0, 0, cv::INTER_LINEAR);

    // Wrapped without a copy; the pixmap makes the one copy the screen needs. Any other
    // type stays an empty picture.
    QImage image;
    const int stride = static_cast<int>(m.step);
    if (!m.empty() && m.type() == CV_8UC1)
        image = QImage(m.data, m.cols, m.rows, stride, QImage::Format_Grayscale8);
    else if (!m.empty() && m.type() == CV_8UC3) // blue-green-red in memory
        image = QImage(m.data, m.cols, m.rows, stride, QImage::Format_BGR888);
    else if (!m.empty() && m.type() == CV_8UC4)
        image = QImage(m.data, m.cols, m.rows, stride, QImage::Format_ARGB32);
    label->setPixmap(QPixmap::fromImage(image));
    m_last_image[Num][Cnt] = m;
}

void Gluebox::OnDisplayTimeCostHub(int Num, int ms)
{
    if (Num >= 0 && Num < 4)
        m_label_timecost[Num]->setText(QString::number(ms) + QStringLiteral("ms"));
}

void Gluebox::OnDisplayCheckNumberHub(int Num, long)
{
    // The window counts for itself: its count starts again at a shift change.
    if (Num >= 0 && Num < 4)
        m_lcdNumber_total[Num]->display(++m_check_count[Num]);
}

void Gluebox::OnDisplayJdNoHub(int Num, QString jd_no)
{
    if (Num >= 0 && Num < 4)
        m_label_jd_no[Num]->setText(jd_no);
}

void Gluebox::updateStatisticsHub(const QString &statisticalData, int Num)
{
    if (Num >= 0 && Num < 4)
        m_label_cap_speed[Num]->setText(statisticalData + QStringLiteral("个/秒"));
}

void Gluebox::OnRotateReleasedHub(int Num)
{
    if (Num < 0 || Num >= 4)
        return;
    const int next = Rotation::nextCode(g_rotate[Num]);
    emit sengMsgToClog(QStringLiteral("Start to rotate picture %1 degrees of camera %2.")
                           .arg(next * 90)
                           .arg(Num));
    if (!g_rotate_enable[Num])
        return;
    g_rotate[Num] = next;
    saveRotation();
}

void Gluebox::OnDBClickHub(int Num_Cnt)
{
    const int position = Num_Cnt / 16;
    const int k = Num_Cnt % 16;
    if (position < 0 || position >= 4 || k < 0 || k > 1)
        return;
    // Where a label and its rotate button go back to; the rotate button stays hidden
    // (zero size) outside the full-screen view from then on.
    static const QRect kLabel[4][2] = {
        {{150, 86, 431, 471}, {10, 230, 231, 401}},
        {{586, 86, 431, 471}, {900, 90, 161, 251}},
        {{800, 230, 231, 401}, {1040, 230, 231, 401}},
        {{732, 420, 321, 261}, {900, 420, 161, 251}},
    };
    static const QRect kRotate[4] = {
        {550, 90, 0, 0}, {990, 90, 0, 0}, {125, 230, 0, 0}, {1030, 430, 0, 0}};

    db_label *label = m_image_label[position][k];
    if (!m_full_screen[position][k]) {
        emit sengMsgToClog(
            QStringLiteral("Set the picture of camera %1 to full screen.").arg(position));
        m_full_screen[position][k] = true;
        label->setGeometry(0, 0, 1024, 768);
        m_rotate[position]->setGeometry(1000, 10, 20, 20);
        label->raise();
        m_rotate[position]->raise();
    } else {
        emit sengMsgToClog(
            QStringLiteral("Cancel the picture of camera %1 to full screen.").arg(position));
        m_full_screen[position][k] = false;
        label->setGeometry(kLabel[position][k]);
        m_rotate[position]->setGeometry(kRotate[position]);
        ui->label_trouble->raise(); // the full-screen view raised the image above it
    }
    OnNotifyHub(position, k, m_last_image[position][k]);
}

void Gluebox::OnDBClickNGHub(int Num)
{
    if (Num < 0 || Num >= 4)
        return;
    emit sengMsgToClog(QStringLiteral("Double click NG."));
    const QString folder = QFileInfo(ImageStore::dayFolder(QDate::currentDate())
                                     + QStringLiteral("%1/ng_result").arg(Num + 1))
                               .absoluteFilePath();
    if (!QDir(folder).exists()) {
        std::printf("No NG images of camera %d today: %s does not exist\n", Num + 1,
                    qPrintable(folder));
        std::fflush(stdout);
        return;
    }
#ifdef Q_OS_WIN
    std::system(qPrintable(QStringLiteral("explorer ") + QDir::toNativeSeparators(folder)));
#else
    // Started, not waited for: xdg-open may stay until the file manager closes. Qt's VNC
    // and offscreen platforms open nothing themselves, so the desktop's opener is asked.
    const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (opener.isEmpty() || !QProcess::startDetached(opener, {folder})) {
        std::printf("No file manager to show %s\n", qPrintable(folder));
        std::fflush(stdout);
    }
#endif
}

void Gluebox::on_pushButton_Clear_Pic_released()
{
    emit sengMsgToClog(QStringLiteral("Clean images."));
    CleanThreadStart();
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
    shutDown();
    stopLog();
    if (m_owns_messages)
        UserMessages::install(nullptr);
    delete ui;
}

void Gluebox::shutDown()
{
    if (m_shut_down)
        return;
    m_shut_down = true;
    // Nothing may poll the PLC or start a thread once the link and the queues are gone.
    if (timer_status)
        timer_status->stop();
    if (timer_clean)
        timer_clean->stop();
    if (m_control) {
        m_control->stopForExit();
        m_control->setLink(nullptr);
        m_control->stopCameraRetries();
    }
    delete m_cleanup; // cancels and waits for a cleanup still running
    m_cleanup = nullptr;
    stopCameras(); // cameras, then the inspection threads that they feed
    if (BaslerTransportLayer *basler = cameraBackends().basler) {
        try {
            basler->terminate();
        } catch (...) {
            std::printf("The Basler runtime did not shut down cleanly\n");
        }
    }
    m_save_thread.reset(); // writes what is queued, then stops
    if (m_plant) {
        // The last counters, then what is still queued, for 2 s at most.
        m_plant->publishCounters();
        delete m_plant;
        m_plant = nullptr;
    }
    StationQueues::release();
    delete g_modbus;
    g_modbus = nullptr;
}

void Gluebox::createControl()
{
    m_session = new LoginSession(this);
    StationHooks hooks;
    hooks.prepareWork = [this] { prepareWork(); };
    hooks.workStopped = [this] {
#ifndef GLUEBOX_VENDOR_SDKS
        // The packing machine follows the PLC: no products while the station pauses.
        if (m_simulation)
            m_simulation->line().stop();
#endif
    };
    hooks.setDebugMode = [this](bool freeRun) { freeRun ? EnableDebugMode() : DisableDebugMode(); };
    hooks.cameraFound = [](int i) { return g_cameras[i].found; };
    hooks.cameraOpened = [](int i) { return g_cameras[i].found && g_cameras[i].opened; };
    hooks.setCameraOpen = [](int i, bool open) { return SetCameraOpen(i, open); };
    hooks.cameraName = [](int i) { return CameraRegistry::instance().cameraName(i); };
    hooks.rejectRefused = [](int i) { return CameraRegistry::instance().rejectRefused(i); };
    hooks.unidentifiedCameras = [] { return CameraRegistry::instance().unidentifiedCameras(); };
    hooks.identifyCameras = [this] { return startIdentifiedPositions(); };
    hooks.plcConnected = [this] { connectPlc(); };
    hooks.keepBoxesAhead = [](int i) { CameraRegistry::instance().keepBoxesAhead(i); };
    m_control = new StationControl(g_modbus, g_plc_addr, g_sys_conf, *m_session, hooks, this);
    bindControl();
}

void Gluebox::bindControl()
{
    const std::array<QLCDNumber *, 4> kick{ui->lcdNumber_kick_1, ui->lcdNumber_kick_2,
                                           ui->lcdNumber_kick_3, ui->lcdNumber_kick_4};
    std::copy(kick.begin(), kick.end(), m_lcdNumber_kick);
    StationControl *c = m_control;
    connect(c, &StationControl::log, this, &Gluebox::sengMsgToClog);
    connect(c, &StationControl::workingShown, this, &Gluebox::showWorking);
    connect(c, &StationControl::debugBoxShown, ui->checkBox_debug, &QCheckBox::setChecked);
    connect(c, &StationControl::unkickBoxShown, ui->checkBox_unkick, &QCheckBox::setChecked);
    connect(c, &StationControl::cameraShown, this, &Gluebox::showCamera);
    connect(c, &StationControl::cameraTrouble, this, &Gluebox::showCameraTrouble);
    connect(c, &StationControl::clockShown, this, [this](const QString &now, const QString &run) {
        ui->label_cur_time->setText(now);
        ui->label_run_stat->setText(run);
    });
    connect(c, &StationControl::totalShown, ui->lcdNumber_total_no, qOverload<int>(&QLCDNumber::display));
    connect(c, &StationControl::lastTotalShown, ui->lcdNumber_total_no_last,
            qOverload<int>(&QLCDNumber::display));
    connect(c, &StationControl::plcShown, this, [this](const QString &text, const QString &style) {
        ui->label_plc->setText(text);
        ui->label_plc->setStyleSheet(style);
    });
    connect(c, &StationControl::kickShown, this,
            [this](int k, int kicks) { m_lcdNumber_kick[k]->display(kicks); });
    connect(c, &StationControl::alarmShown, this, [this](const QString &text, const QString &style) {
        ui->label_alarm->setText(text);
        ui->label_alarm->setStyleSheet(style);
    });
    connect(c, &StationControl::countersCleared, this, &Gluebox::clearCounters);
    connect(c, &StationControl::shiftButtonEnabled, this, [this](bool enabled) {
        enabled ? enable_shift() : ui->pushButton_clear->setEnabled(false);
    });
    connect(c, &StationControl::heldForAdministratorShown, this, [this](bool held) {
        m_troubles->settingsTrouble(
            QStringLiteral("work"),
            held ? QStringLiteral("Work starts only when an administrator starts it, or saves the settings.")
                 : QString());
    });

    LoginSession *s = m_session;
    connect(s, &LoginSession::log, this, &Gluebox::sengMsgToClog);
    connect(s, &LoginSession::operatorKeypadRequested, this, [this] {
        connect(showCentred(m_dialog_op), &Dialogin::enter_op, this, &Gluebox::OnOp);
    });
    connect(s, &LoginSession::adminKeypadRequested, this, [this] {
        connect(showCentred(m_dialog_admin), &DialogSetupPasswd::enter_admin, this, &Gluebox::OnAdmin);
    });
    connect(s, &LoginSession::userLabelShown, ui->label_12, &QLabel::setText);
    connect(s, &LoginSession::roleShown, ui->label_role, &QLabel::setText);
    connect(s, &LoginSession::adminShown, this, &Gluebox::showAdmin);
}

template <typename Dialog>
Dialog *Gluebox::showCentred(QPointer<Dialog> &dialog)
{
    dialog = new Dialog(this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setModal(true);
    dialog->show();
    dialog->move((width() - dialog->width()) / 2, (height() - dialog->height()) / 2);
    return dialog;
}

void Gluebox::showWorking(bool working)
{
    const QString style = working ? QStringLiteral("background-color: rgb(0, 170, 0);")
                                  : QStringLiteral("background-color: rgb(255, 255, 0);");
    ui->label_title->setStyleSheet(style);
    ui->label_title_2->setStyleSheet(style);
    ui->label_title_2->setText(working ? QStringLiteral("运行中") : QStringLiteral("未运行"));
    if (working)
        ui->checkBox_debug->setChecked(false);
    ui->checkBox_debug->setEnabled(!working);
    for (QLabel *label : m_label_reslut)
        label->setVisible(working);
}

void Gluebox::showCamera(int position, bool opened)
{
    // An open camera that cannot eject is never shown as working: red, and the plain
    // picture rather than the ticked one.
    const bool cannotEject = opened && !m_camera_trouble[position].isEmpty();
    m_cam_work[position]->setStyleSheet(cannotEject ? QStringLiteral("background-color: rgb(255, 0, 0);")
                                        : opened    ? QStringLiteral("background-color: rgb(0, 170, 0);")
                                                    : QStringLiteral("background-color: rgb(255, 255, 0);"));
    m_toolButton_cam[position]->setStyleSheet(
        QStringLiteral("border-image: url(:/Gluebox/Resources/cam%1%2.png);")
            .arg(position + 1)
            .arg(cannotEject ? QString() : opened ? QStringLiteral("_yes") : QStringLiteral("_no")));
}

void Gluebox::showCameraTrouble(int position, const QString &text)
{
    m_camera_trouble[position] = text;
    m_troubles->cameraTrouble(position, text);
    showCamera(position, g_cameras[position].opened);
}

void Gluebox::showCameraLost(int position)
{
    if (position < 0 || position >= 4)
        return;
    // Shown as not working, as a closed camera is, until a reopening brings it back.
    showCamera(position, false);
    m_control->cameraLost(position);
    const QString text = QStringLiteral("Camera %1# is lost: it takes no pictures until it is opened again.")
                             .arg(position + 1);
    std::printf("%s\n", qPrintable(text));
    std::fflush(stdout);
    emit sengMsgToClog(text);
}

void Gluebox::showAdmin(bool admin)
{
    ui->btn_lock->setStyleSheet(QStringLiteral("border-image: url(:/Gluebox/Resources/%1.png);")
                                    .arg(admin ? QStringLiteral("lock") : QStringLiteral("unlock")));
    ui->checkBox_debug->setEnabled(admin);
}

void Gluebox::clearCounters()
{
    for (int i = 0; i < 4; ++i) {
        m_check_count[i] = m_ok[i] = m_ng[i] = 0;
        m_lcdNumber_total[i]->display(0);
        m_lcdNumber_ok[i]->display(0);
        m_lcdNumber_ng[i]->display(0);
    }
    ui->lcdNumber_total_no->display(0);
}

void Gluebox::on_btn_start_released() { m_control->start(); }
void Gluebox::on_btn_pause_released() { m_control->pause(); }
void Gluebox::on_btn_lock_released() { m_session->toggleLock(); }
void Gluebox::on_checkBox_debug_clicked(bool checked) { m_control->setDebug(checked); }
void Gluebox::on_checkBox_unkick_clicked(bool checked) { m_control->setUnkick(checked); }
void Gluebox::on_pushButton_clear_released() { m_control->changeShift(); }
void Gluebox::enable_shift() { ui->pushButton_clear->setEnabled(true); }
void Gluebox::OnToolButtonCamReleasedHub(int Num) { m_control->cameraButton(Num); }
void Gluebox::OpenCamTimeoutHub(int Num) { m_control->reopenCamera(Num); }
void Gluebox::ReconnectCamHub(int Num) { m_control->reconnectCamera(Num); }
void Gluebox::handleTimeout() { m_control->tick(); }
void Gluebox::op_timeout() { m_session->operatorTick(); }
void Gluebox::admin_timeout() { m_session->adminTick(); }
void Gluebox::OnCancelAlarm() { m_control->cancelAlarm(); }
void Gluebox::on_pushButton_reset_released() { m_control->reset(); }
void Gluebox::OnOp() { m_session->operatorAccepted(); }
void Gluebox::OnAdmin() { m_session->adminAccepted(); }

void Gluebox::on_btn_setup_released()
{
    if (!m_control->maySetUp())
        return;
    DialogSetup *dialog = showCentred(m_dialog_setup);
    connect(dialog, &DialogSetup::system_exit, this, &Gluebox::OnExit);
    connect(dialog, &DialogSetup::fileSaved, this, &Gluebox::settingsFileSaved);
}

void Gluebox::on_toolButton_plc_released()
{
    if (!m_control->mayOpenPlcSetup())
        return;
    // However the dialog ends, the status poll gets the PLC back.
    connect(showCentred(m_plc_setup), &QObject::destroyed, this, [] { g_plc_setup_open = false; });
}

void Gluebox::on_toolButton_alarm_released()
{
    if (m_control->mayOpenAlarms())
        showCentred(m_alarm_dialog);
}

void Gluebox::OnExit()
{
    on_btn_pause_released();
    for (int i = 0; i < 4; ++i) {
        if (g_cameras[i].found && g_cameras[i].opened && SetCameraOpen(i, false)) {
            qDebug() << "Close device " << i;
            m_cam_work[i]->setStyleSheet(QStringLiteral("background-color: rgb(255, 255, 0);"));
        }
    }
    shutDown();
    qApp->quit();
    close();
}

void Gluebox::startLog()
{
    m_log_thread = new QThread;
    m_log = new CLog;
    m_log->moveToThread(m_log_thread);
    connect(m_log_thread, &QThread::finished, m_log, &QObject::deleteLater);
    connect(this, &Gluebox::sengMsgToClog, m_log, &CLog::recMegFromGluebox);
    connect(m_log, &CLog::writeTrouble, m_troubles, &WriteTroubles::logTrouble);
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
