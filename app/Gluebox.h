#pragma once

#include "DebugThread.h"
#include "SaveThread.h"
#include "WorkThread.h"

#include <QMainWindow>
#include <QString>

#include <memory>

class CLog;
class CleanupRunner;
class SimulatedStation;
class QThread;
class QTimer;

namespace Ui {
class Gluebox;
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
    // A product's verdict, handed to the capture worker for its reject output.
    void OnOKHub(int Num);
    void OnNGHub(int Num);
    void EnableDebugMode();
    void DisableDebugMode();

    // Image cleanup on a thread of its own: keep only today / keep SAVE_DAYS days and
    // make room when the disk runs short (hourly).
    void CleanThreadStart();
    void CleanThreadStartAuto();

private:
    void startLog();
    void stopLog();
    void startCameras();
    void stopCameras();

    Ui::Gluebox *ui;
    QThread *m_log_thread = nullptr;
    CLog *m_log = nullptr;
    // Created once the save queue exists; deleted before the queues are released, the
    // inspection threads before the saving thread (they feed it).
    std::unique_ptr<WorkThread> m_work_threads[4];
    std::unique_ptr<DebugThread> m_debug_threads[4];
    std::unique_ptr<SaveThread> m_save_thread;
    // The Linux build's cameras and packing line.
    std::unique_ptr<SimulatedStation> m_simulation;
    CleanupRunner *m_cleanup = nullptr;
    QTimer *timer_clean = nullptr;
};
