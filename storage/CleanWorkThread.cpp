#include "CleanWorkThread.h"

#include "StationPaths.h"
#include "SysConf.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QStorageInfo>

#include <algorithm>
#include <cstdio>

namespace {
bool isCancelled(const std::atomic<bool> *cancel) { return cancel && cancel->load(); }

// Exactly four digits, hyphen, two digits, hyphen, two digits (ASCII digits only).
bool isDayFolderName(const QString &name)
{
    if (name.size() != 10)
        return false;
    for (int i = 0; i < 10; ++i) {
        const QChar c = name.at(i);
        const bool ok = (i == 4 || i == 7) ? c == QLatin1Char('-')
                                           : (c >= QLatin1Char('0') && c <= QLatin1Char('9'));
        if (!ok)
            return false;
    }
    return true;
}

// Days from the folder's date to today; a name that is no real date counts as today.
qint64 ageDays(const QString &name, const QDate &today)
{
    const QDate date = QDate::fromString(name, QStringLiteral("yyyy-MM-dd"));
    return date.isValid() ? date.daysTo(today) : 0;
}

// The owner's write bit is the read-only flag; checked apart because access() lets a
// superuser write anything.
bool isReadOnly(const QFileInfo &entry)
{
    return !(entry.permissions() & QFileDevice::WriteOwner);
}

// Deletes a folder with all its content without following links out of it.
void removeTree(const QString &path, const std::atomic<bool> *cancel)
{
    const QFileInfoList entries = QDir(path).entryInfoList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo &entry : entries) {
        if (isCancelled(cancel))
            return;
        if (entry.isDir() && !entry.isSymLink())
            removeTree(entry.filePath(), cancel);
        else
            QFile::remove(entry.filePath());
    }
    QDir().rmdir(path);
}
} // namespace

void removeOldDateFolders(const QString &folder, int keepDays, const QDate &today,
                          const std::atomic<bool> *cancel)
{
    QDir dir(folder);
    if (!dir.exists())
        return;
    const QFileInfoList entries
        = dir.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot
                            | QDir::NoSymLinks | QDir::Readable | QDir::Writable);
    for (const QFileInfo &entry : entries) {
        if (isCancelled(cancel))
            return;
        const QString name = entry.fileName();
        if (name == QLatin1String(".") || name == QLatin1String("..") || entry.isSymLink()
            || isReadOnly(entry))
            continue;
        if (entry.isDir()) {
            if (!isDayFolderName(name))
                removeOldDateFolders(entry.filePath(), keepDays, today, cancel);
            else if (ageDays(name, today) >= keepDays)
                removeTree(entry.filePath(), cancel);
        } else {
            QFile::remove(entry.filePath());
        }
    }
}

CleanWorkThread::CleanWorkThread(QObject *parent)
    : QObject(parent)
    , m_imageRoot(StationPaths::imageRoot())
    , m_clock([] { return QDate::currentDate(); })
    , m_probe(&CleanWorkThread::volumeSpace)
{
}

void CleanWorkThread::setImageRoot(const QString &root) { m_imageRoot = root; }

void CleanWorkThread::setClock(Clock clock)
{
    if (clock)
        m_clock = std::move(clock);
}

void CleanWorkThread::setFreeSpaceProbe(FreeSpaceProbe probe)
{
    if (probe)
        m_probe = std::move(probe);
}

void CleanWorkThread::setSaveDays(int days) { m_saveDays = days; }

void CleanWorkThread::setCancelFlag(std::shared_ptr<const std::atomic<bool>> cancel)
{
    m_cancel = std::move(cancel);
}

CleanWorkThread::VolumeSpace CleanWorkThread::volumeSpace(const QString &imageRoot)
{
    QString path = QDir::cleanPath(QDir(imageRoot).absolutePath());
    while (!QFileInfo(path).isDir()) {
        const QString parent = QFileInfo(path).path();
        if (parent == path)
            break;
        path = parent;
    }
    const QStorageInfo storage(path);
    if (!storage.isValid() || !storage.isReady())
        return VolumeSpace{};
    return VolumeSpace{std::max<qint64>(storage.bytesTotal(), 0),
                       std::max<qint64>(storage.bytesFree(), 0)};
}

bool CleanWorkThread::diskFull(const VolumeSpace &space)
{
    return space.totalBytes > 0 && space.freeBytes >= 0
        && space.freeBytes * 10 / space.totalBytes < 1;
}

void CleanWorkThread::startWork()
{
    emit workStart();
    doWork();
}

void CleanWorkThread::startWorkAuto()
{
    emit workStartAuto();
    doWork();
}

void CleanWorkThread::doWork()
{
    const QDate today = m_clock();
    if (m_mode == kKeepToday)
        removeOldDateFolders(m_imageRoot, 1, today, m_cancel.get());
    else
        cleanAutomatic(today);
    emit workFinished();
}

void CleanWorkThread::cleanAutomatic(const QDate &today)
{
    int keepDays = 0;
    if (m_saveDays) {
        keepDays = *m_saveDays;
    } else {
        QMutexLocker locker(&g_sys_conf.lock);
        keepDays = g_sys_conf.SAVE_DAYS;
    }
    // A setting of 0 or less would take today's folder, which the saver is writing into.
    keepDays = std::max(keepDays, 1);
    removeOldDateFolders(m_imageRoot, keepDays, today, m_cancel.get());

    // Short of space: give up one more day at a time, but never yesterday or today.
    for (int k = keepDays - 1;; --k) {
        if (cancelled())
            return;
        const VolumeSpace space = m_probe(m_imageRoot);
        if (space.totalBytes <= 0 || space.freeBytes < 0) {
            std::printf("Image cleanup: the size of the volume holding %s can't be read, "
                        "no further days deleted.\n",
                        qPrintable(QDir::toNativeSeparators(m_imageRoot)));
            std::fflush(stdout);
            return;
        }
        if (k < 2 || !diskFull(space))
            return;
        removeOldDateFolders(m_imageRoot, k, today, m_cancel.get());
    }
}

void CleanWorkThread::setSelAuto() { m_mode = kKeepSaveDays; }

void CleanWorkThread::setSel() { m_mode = kKeepToday; }
