#pragma once

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <cstdint>
#include <functional>

class LoginSession;
class ModbusLink;
struct PlcAddrMap;
struct SysConf;

// What the station's control needs from the rest of the program; every member has a
// harmless default, so a test fills in only what it watches.
struct StationHooks
{
    std::function<QDateTime()> now;              // the clock
    // Before WORK goes to 1: verdict lists emptied, detectors warmed up, simulated line started.
    std::function<void()> prepareWork;
    // After the station stopped working (pause, shift, exit): the simulated line stops.
    std::function<void()> workStopped;
    std::function<void(bool freeRun)> setDebugMode;
    std::function<bool(int position)> cameraFound;
    std::function<bool(int position)> cameraOpened;
    std::function<bool(int position, bool open)> setCameraOpen;
    std::function<void(int ms)> sleepMs;         // the shift change's settling wait
    // For messages: "Balluff, user ID 3".
    std::function<QString(int position)> cameraName;
    // The reject output's features that the camera refused at its last open; empty when
    // it can eject.
    std::function<QStringList(int position)> rejectRefused;
    // Cameras seen at enumeration whose user ID could not be read, by name.
    std::function<QStringList()> unidentifiedCameras;
    // Reads their user IDs again; the positions that got their camera now, with their
    // inspection started.
    std::function<QList<int>()> identifyCameras;
    // The PLC answers, at start-up or again after it was lost: what the PLC must hold
    // (plc.txt's parameters) is written and what it holds (no-kick) is shown.
    std::function<void()> plcConnected;
    // The line has stood still since the position's camera last saw a window: its next
    // open keeps the numbers of the boxes between camera and ejector.
    std::function<void(int position)> keepBoxesAhead;
};

// The work, debug and no-kick modes, the operator's buttons with their guards, the
// once-a-second status poll (totals, alarms and their history, reconnect requests,
// automatic shift changes) and the manual shift change. GUI thread only. Message boxes go
// through UserMessages; the window shows what the signals say.
class StationControl : public QObject
{
    Q_OBJECT
public:
    StationControl(ModbusLink *link, const PlcAddrMap &addr, const SysConf &conf,
                   LoginSession &session, StationHooks hooks, QObject *parent = nullptr);

    // Null once the link is released at exit: every PLC access is then skipped.
    void setLink(ModbusLink *link) { m_link = link; }
    bool plcConnected() const;
    // After start-up's openLink: the PLC label, and plcConnected() when the port opened;
    // otherwise said once, and the status poll tries again with a back-off.
    void linkOpenedAtStart();

    void start();                    // the start button
    void pause();                    // the pause button
    // At shutdown, whoever is logged in: the machine must not go on without inspection.
    void stopForExit();
    // Start-up's automatic work: no login needed; false without a PLC, in which case it
    // starts when the PLC first answers. Never while held for the administrator.
    bool startAutomatically();
    // Settings that may pass every defect (a damaged conf.txt, a found camera with the
    // recipe 0|0|0): while held, only an administrator starts work and nothing starts it
    // automatically. An administrator's start, or a save of the settings, releases it.
    void holdForAdministrator(bool hold);
    bool heldForAdministrator() const { return m_held_for_admin; }
    void setDebug(bool checked);     // the debug box
    void setUnkick(bool checked);    // the no-kick box
    void reset();                    // the reset button: a one-second RESET pulse
    void cameraButton(int position);
    // Guards of the buttons that open dialogs: true when the dialog may be shown.
    bool maySetUp();
    bool mayOpenPlcSetup();
    bool mayOpenAlarms();

    void changeShift();              // the shift button
    void cancelAlarm();              // double click on the alarm label
    void tick();                     // once a second
    // The PLC's request (alarm 7/8): the camera is closed and opened again 2 s later. A
    // working station holds the line meanwhile, so that no box passes a closed camera,
    // and works again once the camera is back (unless the operator paused or started).
    void reconnectCamera(int position);
    void reopenCamera(int position);
    // An open camera went away (its capture worker said so).
    void cameraLost(int position);
    // Opens a found position's camera (start-up, the camera button, a reconnect request).
    // A failure is said once per run of failures and tried again after 2, 4, 8, 16 and
    // then every 30 s; the camera's return is said with its number of tries. A camera that
    // refused its reject output is said, once per open, and shown unable to eject.
    bool openCamera(int position);
    // After enumeration: the cameras whose user ID could not be read are named, and read
    // again on the same back-off; each that answers is bound to its position and opened
    // there (with AUTO_OPEN).
    void identifyLater();
    // At exit: nothing may open a camera any more.
    void stopCameraRetries();

    // "运行%1天%2时%3分%4秒" for a run time in seconds.
    static QString runTimeText(qint64 seconds);

    // A PLC that stopped answering, or whose port went away, is asked again after 1, 2,
    // 4 and then every kMaxRetryTicks ticks; each try reopens the port.
    static constexpr int kMaxRetryTicks = 8;

    // A camera that failed to open is tried again after 2 s, then twice as long each time
    // up to 30 s: one that was busy or still starting is back within seconds, while each
    // try of one that does not answer holds this thread for the SDK's time-out, and 30 s
    // bounds how long a camera that is back stays unused.
    static constexpr int kFirstCameraRetryMs = 2000;
    static constexpr int kMaxCameraRetryMs = 30000;

    QTimer timer_shift;              // keeps the shift button disabled for 5 s
    QTimer *openCamTimer(int position) { return &m_open_cam_timer[position]; }
    QTimer *openRetryTimer(int position) { return &m_open_retry[position]; }
    QTimer *identifyTimer() { return &m_identify_timer; }

signals:
    void log(const QString &line);
    void workingShown(bool working);
    void debugBoxShown(bool checked);
    void unkickBoxShown(bool checked);
    void cameraShown(int position, bool opened);
    // A camera's line for the trouble band (it cannot eject, or cannot be opened); empty
    // when it has none.
    void cameraTrouble(int position, const QString &text);
    void clockShown(const QString &dateTime, const QString &runTime);
    void totalShown(int total);
    void plcShown(const QString &text, const QString &style);
    void kickShown(int position, int kicks);
    void alarmShown(const QString &text, const QString &style);
    void countersCleared();           // per-position counters and the PLC total to 0
    void lastTotalShown(int total);   // the total of the shift that ended
    void shiftButtonEnabled(bool enabled);
    void heldForAdministratorShown(bool held);
    // For the plant: an alarm's occurrence when first seen, and when acknowledged; the
    // times as the alarm table shows them.
    void alarmRaised(int code, const QString &text, const QString &raised);
    void alarmAcknowledged(int code, const QString &text, const QString &raised, const QString &acknowledged);
    // The statistics line of the shift that ended, for one opened position.
    void shiftRecorded(int position, const QString &line);

private:
    enum class Read { Ok, Failed, NoAnswer };

    bool plcFree() const;            // connected and not held by the PLC setup dialog
    int writeCoil(int addr, int value);
    int clearAlarmRegisters();
    Read readPair(int addr, int32_t &value);
    // The status reads; false when the PLC stopped answering on the way.
    bool poll(const QDateTime &now, const QString &nowText);
    void linkLost();
    // A due retry: the port reopened and asked once. True when the PLC answers again.
    bool reconnect();
    void linkBack();
    // After the PLC came back: work as AUTO_WORK says.
    void resumeWork();
    bool enterWork();
    void leaveWork();
    void handleAlarm(int code, const QString &now);
    void automaticShift(int32_t total, const QDateTime &now);
    int timedShiftIndex(const QDateTime &now) const;
    void shiftSequence(int32_t total, int shiftIndex);
    // "Camera 2# (Balluff, user ID 3)".
    QString cameraTitle(int position) const;
    void cameraOpenFailed(int position);
    void cameraOpened(int position);
    // Boxes may have passed the position's camera unseen when it is closed or lost now.
    void noteCameraGone(int position);
    // The camera of a reconnect that held the line is back (or was never closed): work
    // goes on when no other reconnect holds it.
    void resumeAfterReconnect(int position);
    // One more read of the unidentified cameras' IDs. The positions bound now are opened
    // (with AUTO_OPEN), but for `reconnecting`, whose reconnect request opens it.
    void identifyCameras(int reconnecting = -1);

    ModbusLink *m_link;
    const PlcAddrMap &m_addr;
    const SysConf &m_conf;
    LoginSession &m_session;
    StationHooks m_hooks;
    QTimer m_open_cam_timer[4];
    QTimer m_reset_timer;
    bool m_lost = false;             // the PLC does not answer, or its port is closed
    bool m_ever_connected = false;
    int m_retry_in = 0;              // ticks until the next try while lost
    int m_retry_delay = 1;           // ticks between the last two tries
    bool m_auto_work_pending = false; // start-up's automatic work waits for the PLC
    bool m_held_for_admin = false;
    QDateTime m_previous_tick;       // a timed shift whose second fell between two ticks still fires
    QTimer m_open_retry[4];
    int m_open_failures[4] = {};     // failed tries of the current run of failures
    int m_open_retry_ms[4] = {};     // 0: no run of failures
    // Boxes may have passed the camera unseen since it last saw a window: the line ran
    // while it was closed or lost.
    bool m_unseen_boxes[4] = {};
    bool m_camera_lost[4] = {};
    bool m_resume_after_reconnect[4] = {}; // work was held for this camera's reconnect
    QTimer m_identify_timer;
    int m_identify_failures = 0;
    int m_identify_retry_ms = 0;
};
