#pragma once

#include "DebugThread.h"
#include "MessageBoxes.h"
#include "PlcParam.h"
#include "SaveThread.h"
#include "WorkThread.h"

#include <QList>
#include <QMainWindow>
#include <QPointer>
#include <QString>

#include <opencv2/core/mat.hpp>

#include <memory>

class AlarmDialog;
class AravisHikApi;
class CLog;
class CleanupRunner;
class DialogSetup;
class DialogSetupPasswd;
class Dialogin;
class LoginSession;
class PlcSetup;
class StationControl;
class WriteTroubles;
class QLCDNumber;
class QLabel;
class QSignalMapper;
class QToolButton;
class LineAccount;
class PlantPublisher;
class SimulatedStation;
class QThread;
class QTimer;
class db_label;
class tst_Gluebox;

namespace Ui {
class GlueboxClass;
}

// The station's main window. Its constructor runs the start-up sequence; the
// destructor stops what the constructor started.
class Gluebox : public QMainWindow
{
    Q_OBJECT
public:
    explicit Gluebox(QWidget *parent = nullptr);
    ~Gluebox() override;

signals:
    // Every operation-log line; written by CLog on its own thread.
    void sengMsgToClog(QString message);

public slots:
    // The operator's buttons and boxes; the station's control decides, the window shows.
    void on_btn_start_released();
    void on_btn_pause_released();
    void on_btn_lock_released();
    void on_btn_setup_released();
    void on_checkBox_debug_clicked(bool checked);
    void on_checkBox_unkick_clicked(bool checked);
    void on_toolButton_plc_released();
    void on_toolButton_alarm_released();
    void on_pushButton_clear_released();
    void enable_shift();
    void OnToolButtonCamReleasedHub(int Num);
    void OpenCamTimeoutHub(int Num);
    void ReconnectCamHub(int Num);
    void handleTimeout();
    void op_timeout();
    void admin_timeout();
    void OnCancelAlarm();
    void on_pushButton_reset_released();
    void OnOp();
    void OnAdmin();
    // The settings dialog's exit: pause, cameras closed, everything stopped, then quit.
    void OnExit();

    // A product's verdict, counted and shown. The work thread has handed it to the capture
    // worker's verdict list already, so that nothing on this thread (a slow PLC) delays it.
    void OnOKHub(int Num, qulonglong product);
    void OnNGHub(int Num, qulonglong product);
    void EnableDebugMode();
    void DisableDebugMode();

    void on_pushButton_Clear_Pic_released();

    // What the work, debug and capture threads report, on screen (N = Num + 1 in the
    // widget names).
    void OnNotifyHub(int Num, int Cnt, cv::Mat m);
    void OnDisplayTimeCostHub(int Num, int ms);
    void OnDisplayCheckNumberHub(int Num, long no);
    void OnDisplayJdNoHub(int Num, QString jd_no);
    void updateStatisticsHub(const QString &statisticalData, int Num);
    // The operator's taps: rotation, an image to full screen and back (Num_Cnt is
    // position * 16 + label), the day's NG images of a position.
    void OnRotateReleasedHub(int Num);
    void OnDBClickHub(int Num_Cnt);
    void OnDBClickNGHub(int Num);

    // Image cleanup on a thread of its own: keep only today / keep SAVE_DAYS days and
    // make room when the disk runs short (hourly).
    void CleanThreadStart();
    void CleanThreadStartAuto();

private:
    friend class tst_Gluebox;

    // The per-position widget tables, the display's starting state and the image
    // labels', NG labels' and rotate buttons' mappers.
    void setupDisplay();
    // A found position's threads to the display hubs, and its status label.
    void connectDisplay(int position);
    // The open cameras' buttons and work labels.
    void showCameraStates();
    void showVerdict(int Num, bool ok);

    // The station's control and login session, bound to the form.
    void createControl();
    void bindControl();
    // The PLC answers (at start-up, or again after it was lost): the no-kick box and
    // plc.txt's parameters.
    void connectPlc();
    // The timers, the alarm label and the camera buttons (after the cameras).
    void startTimers();
    // Automatic work: waits (bounded) for the open cameras' capture threads, then starts.
    void startWorkAutomatically();
    // A detector that cannot load ends the process with a failing status.
    [[noreturn]] void failSelfCheck(int position, const QString &reason);
    void showWorking(bool working);
    void showCamera(int position, bool opened);
    // A camera's trouble (it cannot eject, or cannot be opened; empty: none): its status
    // and a line in the trouble band.
    void showCameraTrouble(int position, const QString &text);
    // A camera that went away while open (CameraRegistry::cameraLost).
    void showCameraLost(int position);
    // Once per run of product windows that closed without a frame.
    void logWindowsWithoutFrames(int position, qulonglong firstProduct);
    // Real cameras: each open camera's frames (whole, incomplete) and products (all, not
    // judged), every 10 s and at the end, on standard output.
    void printGenicamAccount();
    void showAdmin(bool admin);
    void clearCounters();
    // A found camera whose recipe is 0|0|0 finds no box NG: said in the band. True when
    // there is one.
    bool showZeroRecipes();
    // The settings dialog replaced a file whole: what the band said about it goes, and a
    // saved conf.txt releases the hold for the administrator.
    void settingsFileSaved(const QString &path);
    template <typename Dialog>
    Dialog *showCentred(QPointer<Dialog> &dialog);
    // Threads stopped, then the queues and the PLC link released; once, from OnExit or
    // the destructor.
    void shutDown();

    void startLog();
    void stopLog();
    void startCameras();
    // Publishes to the plant's broker when conf.txt names one (MonitorPort not 0).
    void startPlantLink();
    // A found position's inspection: its work and debug threads, their display, its
    // detector (false, with the reason, when that does not load).
    bool startPosition(int position, QString *reason);
    // Cameras identified after start-up (their user ID read late): each position's
    // inspection started as at start-up.
    QList<int> startIdentifiedPositions();
    void stopCameras();
    // Before work starts (start button, automatic work): the verdict lists and pending
    // frames of the open positions are emptied and their detectors warmed up.
    void prepareWork();

    Ui::GlueboxClass *ui;
    QList<PlcParam> m_plc_params;

    // Per-position widgets, [position] (and [position][label] for the images).
    QLabel *m_label_cap_speed[4] = {};
    QLabel *m_cam_status[4] = {};
    QLabel *m_cam_work[4] = {};
    QToolButton *m_toolButton_cam[4] = {};
    db_label *m_image_label[4][2] = {};
    QLabel *m_label_timecost[4] = {};
    QLCDNumber *m_lcdNumber_total[4] = {};
    QLabel *m_label_jd_no[4] = {};
    QLCDNumber *m_lcdNumber_ok[4] = {};
    QLCDNumber *m_lcdNumber_ng[4] = {};
    QLabel *m_label_reslut[4] = {};
    QToolButton *m_rotate[4] = {};
    db_label *m_label_ng[4] = {};

    // Each image label's last picture as resized for it, shown again when the label
    // changes size.
    cv::Mat m_last_image[4][2];
    int m_check_count[4] = {};
    int m_ok[4] = {};
    int m_ng[4] = {};
    bool m_full_screen[4][2] = {};
    QSignalMapper *m_image_mapper[2] = {};
    QSignalMapper *m_ng_mapper = nullptr;
    QSignalMapper *m_rotate_mapper = nullptr;
    QThread *m_log_thread = nullptr;
    CLog *m_log = nullptr;
    // Created once the save queue exists; deleted before the queues are released, the
    // inspection threads before the saving thread (they feed it).
    std::unique_ptr<WorkThread> m_work_threads[4];
    std::unique_ptr<DebugThread> m_debug_threads[4];
    std::unique_ptr<SaveThread> m_save_thread;
    // The Linux build's cameras and packing line, and the line's account of the ejections.
    std::unique_ptr<SimulatedStation> m_simulation;
    // Without conf/camsim.txt: the real cameras' back-end, through GenICam.
    std::unique_ptr<AravisHikApi> m_genicam;
    QTimer *m_genicam_account = nullptr;
    LineAccount *m_line_account = nullptr;
    PlantPublisher *m_plant = nullptr; // the plant's broker; null when MonitorPort is 0
    CleanupRunner *m_cleanup = nullptr;
    QTimer *timer_clean = nullptr;
    QTimer *timer_status = nullptr;
    QSignalMapper *m_camera_mapper = nullptr;
    LoginSession *m_session = nullptr;
    StationControl *m_control = nullptr;
    // The log's and the image store's write troubles, shown above the images' bottom edge.
    WriteTroubles *m_troubles = nullptr;
    QString m_camera_trouble[4];
    QLCDNumber *m_lcdNumber_kick[4] = {};
    // Installed unless a test has installed its own answers.
    MessageBoxes m_message_boxes;
    bool m_owns_messages = false;
    bool m_shut_down = false;
    QPointer<DialogSetupPasswd> m_dialog_admin;
    QPointer<Dialogin> m_dialog_op;
    QPointer<DialogSetup> m_dialog_setup;
    QPointer<PlcSetup> m_plc_setup;
    QPointer<AlarmDialog> m_alarm_dialog;
};
