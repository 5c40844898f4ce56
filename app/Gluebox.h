#pragma once

#include "SaveThread.h"

#include <QMainWindow>
#include <QString>

#include <memory>

class CLog;
class CleanupRunner;
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
    // Image cleanup on a thread of its own: keep only today / keep SAVE_DAYS days and
    // make room when the disk runs short (hourly).
    void CleanThreadStart();
    void CleanThreadStartAuto();

private:
    void startLog();
    void stopLog();

    Ui::Gluebox *ui;
    QThread *m_log_thread = nullptr;
    CLog *m_log = nullptr;
    // Created once the save queue exists; deleted before the queues are released.
    std::unique_ptr<SaveThread> m_save_thread;
    CleanupRunner *m_cleanup = nullptr;
    QTimer *timer_clean = nullptr;
};
