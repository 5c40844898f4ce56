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
// run may overlap the hourly one; only runs that make room are one at a time. Lives on the
// thread that made it (its slots run there); its destructor cancels the runs still busy
// (they stop between two entries) and waits for them.
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

    // What the runs use: the image root and a measure of its volume, defaults resolved.
    QString imageRoot() const;
    CleanWorkThread::VolumeSpace volumeSpace() const;

public slots:
    // automatic: keep SAVE_DAYS days (read now, on the caller's thread) and make room when
    // the disk is short; otherwise keep only today. Returns at once.
    void start(bool automatic);
    void startManual() { start(false); }
    void startAuto() { start(true); }
    // Makes room on a volume that ran full (CleanWorkThread::kMakeRoom), unless such a run
    // is still busy. Returns at once; true when a run was started.
    bool makeRoom();

signals:
    // Delivered on the runner's thread once a run's cleanup is done.
    void cleanupFinished(bool automatic);
    void roomMade();
    // A run deleted images for room (CleanWorkThread::spaceReport), on the runner's thread.
    void spaceReport(QString text);

private:
    enum class Kind { Manual, Automatic, Room };
    void launch(Kind kind);

    QString m_imageRoot;
    CleanWorkThread::Clock m_clock;
    CleanWorkThread::FreeSpaceProbe m_probe;
    std::shared_ptr<std::atomic<bool>> m_cancel;
    QList<QPointer<QThread>> m_threads; // runs started; null once a thread deleted itself
    bool m_makingRoom = false; // a kMakeRoom run is busy
};
