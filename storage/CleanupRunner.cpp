#include "CleanupRunner.h"

#include "StationPaths.h"
#include "SysConf.h"

#include <QMutexLocker>

CleanupRunner::CleanupRunner(QObject *parent)
    : QObject(parent)
    , m_cancel(std::make_shared<std::atomic<bool>>(false))
{
}

CleanupRunner::~CleanupRunner()
{
    m_cancel->store(true);
    for (const QPointer<QThread> &thread : m_threads) {
        if (!thread)
            continue;
        thread->wait();
        delete thread.data();
    }
}

void CleanupRunner::setImageRoot(const QString &root) { m_imageRoot = root; }

void CleanupRunner::setClock(CleanWorkThread::Clock clock) { m_clock = std::move(clock); }

void CleanupRunner::setFreeSpaceProbe(CleanWorkThread::FreeSpaceProbe probe)
{
    m_probe = std::move(probe);
}

QString CleanupRunner::imageRoot() const
{
    return m_imageRoot.isEmpty() ? StationPaths::imageRoot() : m_imageRoot;
}

CleanWorkThread::VolumeSpace CleanupRunner::volumeSpace() const
{
    return m_probe ? m_probe(imageRoot()) : CleanWorkThread::volumeSpace(imageRoot());
}

void CleanupRunner::start(bool automatic)
{
    launch(automatic ? Kind::Automatic : Kind::Manual);
}

bool CleanupRunner::makeRoom()
{
    if (m_makingRoom)
        return false;
    m_makingRoom = true;
    launch(Kind::Room);
    return true;
}

void CleanupRunner::launch(Kind kind)
{
    auto *thread = new QThread;
    auto *worker = new CleanWorkThread;
    if (!m_imageRoot.isEmpty())
        worker->setImageRoot(m_imageRoot);
    worker->setClock(m_clock);
    worker->setFreeSpaceProbe(m_probe);
    worker->setCancelFlag(m_cancel);
    if (kind != Kind::Manual) {
        // Read here so the cleanup thread never races the settings dialog.
        QMutexLocker locker(&g_sys_conf.lock);
        worker->setSaveDays(g_sys_conf.SAVE_DAYS);
    }
    worker->moveToThread(thread);

    if (kind == Kind::Automatic) {
        connect(thread, &QThread::started, worker, &CleanWorkThread::startWorkAuto);
        connect(worker, &CleanWorkThread::workStartAuto, worker, &CleanWorkThread::setSelAuto);
    } else if (kind == Kind::Room) {
        connect(thread, &QThread::started, worker, &CleanWorkThread::startWorkRoom);
        connect(worker, &CleanWorkThread::workStartRoom, worker, &CleanWorkThread::setSelRoom);
    } else {
        connect(thread, &QThread::started, worker, &CleanWorkThread::startWork);
        connect(worker, &CleanWorkThread::workStart, worker, &CleanWorkThread::setSel);
    }
    connect(worker, &CleanWorkThread::spaceReport, this, &CleanupRunner::spaceReport);
    connect(worker, &CleanWorkThread::workFinished, worker, &QObject::deleteLater);
    // Direct: quit is thread-safe, and a queued call would never arrive while the
    // destructor waits on the GUI thread.
    connect(worker, &QObject::destroyed, thread, &QThread::quit, Qt::DirectConnection);
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    connect(worker, &CleanWorkThread::workFinished, this, [this, kind] {
        if (kind != Kind::Room) {
            emit cleanupFinished(kind == Kind::Automatic);
            return;
        }
        m_makingRoom = false;
        emit roomMade();
    });

    m_threads.removeAll(QPointer<QThread>());
    m_threads.append(thread);
    thread->start(QThread::InheritPriority);
}
