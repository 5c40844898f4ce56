#include "CleanupRunner.h"

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

void CleanupRunner::start(bool automatic)
{
    auto *thread = new QThread;
    auto *worker = new CleanWorkThread;
    if (!m_imageRoot.isEmpty())
        worker->setImageRoot(m_imageRoot);
    worker->setClock(m_clock);
    worker->setFreeSpaceProbe(m_probe);
    worker->setCancelFlag(m_cancel);
    if (automatic) {
        // Read here so the cleanup thread never races the settings dialog.
        QMutexLocker locker(&g_sys_conf.lock);
        worker->setSaveDays(g_sys_conf.SAVE_DAYS);
    }
    worker->moveToThread(thread);

    if (automatic) {
        connect(thread, &QThread::started, worker, &CleanWorkThread::startWorkAuto);
        connect(worker, &CleanWorkThread::workStartAuto, worker, &CleanWorkThread::setSelAuto);
    } else {
        connect(thread, &QThread::started, worker, &CleanWorkThread::startWork);
        connect(worker, &CleanWorkThread::workStart, worker, &CleanWorkThread::setSel);
    }
    connect(worker, &CleanWorkThread::workFinished, worker, &QObject::deleteLater);
    // Direct: quit is thread-safe, and a queued call would never arrive while the
    // destructor waits on the GUI thread.
    connect(worker, &QObject::destroyed, thread, &QThread::quit, Qt::DirectConnection);
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    connect(worker, &CleanWorkThread::workFinished, this,
            [this, automatic] { emit cleanupFinished(automatic); });

    m_threads.removeAll(QPointer<QThread>());
    m_threads.append(thread);
    thread->start(QThread::InheritPriority);
}
