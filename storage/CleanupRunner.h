#pragma once

#include "CleanWorkThread.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QThread>

#include <atomic>
#include <memory>

// Starts image cleanups, each on a new thread that deletes itself and its worker when the
// run is over, so the GUI never waits for the file system. Runs don't coordinate: a manual
// run may overlap the hourly one. Lives on the GUI thread; its destructor cancels the runs
// still busy (they stop between two entries) and waits for them.
class CleanupRunner : public QObject
{
    Q_OBJECT
public:
    explicit CleanupRunner(QObject *parent = nullptr);
    ~CleanupRunner() override;

    // Copied into every later run; defaults as in CleanWorkThread.
    void setImageRoot(const QString &root);
    void setClock(CleanWorkThread::Clock clock);
    void setFreeSpaceProbe(CleanWorkThread::FreeSpaceProbe probe);

public slots:
    // automatic: keep SAVE_DAYS days (read now, on the caller's thread) and make room when
    // the disk is short; otherwise keep only today. Returns at once.
    void start(bool automatic);
    void startManual() { start(false); }
    void startAuto() { start(true); }

signals:
    // Delivered on the runner's thread once a run's cleanup is done.
    void cleanupFinished(bool automatic);

private:
    QString m_imageRoot;
    CleanWorkThread::Clock m_clock;
    CleanWorkThread::FreeSpaceProbe m_probe;
    std::shared_ptr<std::atomic<bool>> m_cancel;
    QList<QPointer<QThread>> m_threads; // runs started; null once a thread deleted itself
};
