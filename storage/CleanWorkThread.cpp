#include "CleanWorkThread.h"

#include "StationPaths.h"
#include "SysConf.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QPair>
#include <QStringList>
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

// The entries a cleanup may touch: hidden ones too, but no links and nothing read-only or
// unreadable.
QFileInfoList removableEntries(const QString &folder)
{
    QFileInfoList entries = QDir(folder).entryInfoList(
        QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot | QDir::NoSymLinks | QDir::Readable
        | QDir::Writable);
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [](const QFileInfo &entry) {
                                     const QString name = entry.fileName();
                                     return name == QLatin1String(".") || name == QLatin1String("..")
                                         || entry.isSymLink() || isReadOnly(entry);
                                 }),
                  entries.end());
    return entries;
}

// Deletes the folders of the given kinds (ALL, ng, ng_result) of every camera of one day.
// True when something went.
bool removeKinds(const QString &day, const QStringList &kinds, const std::atomic<bool> *cancel)
{
    bool removed = false;
    for (const QFileInfo &camera : removableEntries(day)) {
        if (!camera.isDir())
            continue;
        for (const QFileInfo &entry : removableEntries(camera.filePath())) {
            if (isCancelled(cancel))
                return removed;
            if (entry.isDir() && kinds.contains(entry.fileName())) {
                removeTree(entry.filePath(), cancel);
                removed = true;
            }
        }
    }
    return removed;
}

// A day's camera folders and the day's own folder, where nothing is left in them.
void removeEmptyFolders(const QString &day)
{
    for (const QFileInfo &camera : removableEntries(day))
        if (camera.isDir())
            QDir().rmdir(camera.filePath());
    QDir().rmdir(day);
}
} // namespace

void removeOldDateFolders(const QString &folder, int keepDays, const QDate &today,
                          const std::atomic<bool> *cancel)
{
    if (!QDir(folder).exists())
        return;
    for (const QFileInfo &entry : removableEntries(folder)) {
        if (isCancelled(cancel))
            return;
        const QString name = entry.fileName();
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

void CleanWorkThread::startWorkRoom()
{
    emit workStartRoom();
    doWork();
}

void CleanWorkThread::doWork()
{
    const QDate today = m_clock();
    if (m_mode == kKeepToday)
        removeOldDateFolders(m_imageRoot, 1, today, m_cancel.get());
    else if (m_mode == kMakeRoom)
        makeRoom(today);
    else
        cleanAutomatic(today);
    emit workFinished();
}

int CleanWorkThread::keepDays() const
{
    int days = 0;
    if (m_saveDays) {
        days = *m_saveDays;
    } else {
        QMutexLocker locker(&g_sys_conf.lock);
        days = g_sys_conf.SAVE_DAYS;
    }
    // A setting of 0 or less would take today's folder, which the saver is writing into.
    return std::max(days, 1);
}

CleanWorkThread::Room CleanWorkThread::measureRoom(VolumeSpace *measured) const
{
    const VolumeSpace space = m_probe(m_imageRoot);
    if (measured)
        *measured = space;
    if (space.totalBytes <= 0 || space.freeBytes < 0)
        return Room::Unknown;
    return diskFull(space) ? Room::Short : Room::Enough;
}

void CleanWorkThread::cleanAutomatic(const QDate &today)
{
    const int keep = keepDays();
    removeOldDateFolders(m_imageRoot, keep, today, m_cancel.get());

    // Short of space: give up one more day at a time, but never yesterday or today.
    for (int k = keep - 1;; --k) {
        if (cancelled())
            return;
        const Room room = measureRoom();
        if (room == Room::Unknown) {
            std::printf("Image cleanup: the size of the volume holding %s can't be read, "
                        "no further days deleted.\n",
                        qPrintable(QDir::toNativeSeparators(m_imageRoot)));
            std::fflush(stdout);
            return;
        }
        if (k < 2 || room == Room::Enough)
            return;
        removeOldDateFolders(m_imageRoot, k, today, m_cancel.get());
    }
}

void CleanWorkThread::makeRoom(const QDate &today)
{
    // What the hourly run would delete anyway goes first.
    removeOldDateFolders(m_imageRoot, keepDays(), today, m_cancel.get());
    VolumeSpace space;
    Room room = measureRoom(&space);
    if (room != Room::Short)
        return;

    // The layout's day folders, oldest first.
    QList<QPair<QDate, QString>> days;
    for (const QFileInfo &entry : removableEntries(m_imageRoot)) {
        const QDate date = QDate::fromString(entry.fileName(), QStringLiteral("yyyy-MM-dd"));
        if (entry.isDir() && isDayFolderName(entry.fileName()) && date.isValid())
            days.append({date, entry.filePath()});
    }
    std::sort(days.begin(), days.end());

    // Whole frames are samples: they go first, today's too. NG images are what the
    // operator looks back at: only older days' go, and only once no whole frame is left.
    int frameDays = 0;
    int ngDays = 0;
    const QStringList frames{QStringLiteral("ALL")};
    const QStringList ng{QStringLiteral("ng"), QStringLiteral("ng_result")};
    for (int pass = 0; pass < 2 && room == Room::Short; ++pass) {
        for (const auto &day : days) {
            if (room != Room::Short || cancelled())
                break;
            if (pass == 1 && day.first >= today)
                continue;
            if (!removeKinds(day.second, pass == 0 ? frames : ng, m_cancel.get()))
                continue;
            ++(pass == 0 ? frameDays : ngDays);
            // Emptied folders of past days go too; today's stay for the saver.
            if (day.first < today)
                removeEmptyFolders(day.second);
            room = measureRoom(&space);
        }
    }

    // Nothing left to give up is said by the saver's band already; a run every few seconds
    // must not fill standard output.
    if (frameDays + ngDays == 0)
        return;
    QString text = QStringLiteral("Image store short of space: whole-frame images of %1 day(s) and "
                                  "NG images of %2 day(s) deleted")
                       .arg(frameDays)
                       .arg(ngDays);
    if (room == Room::Enough)
        text += QStringLiteral("; %1 % of the volume is free.").arg(space.freeBytes * 100 / space.totalBytes);
    else if (room == Room::Short)
        text += QStringLiteral("; still short of space (today's NG images are kept).");
    else
        text += QStringLiteral("; the size of the volume can't be read any more.");
    std::printf("%s\n", qPrintable(text));
    std::fflush(stdout);
    emit spaceReport(text);
}

void CleanWorkThread::setSelAuto() { m_mode = kKeepSaveDays; }

void CleanWorkThread::setSel() { m_mode = kKeepToday; }

void CleanWorkThread::setSelRoom() { m_mode = kMakeRoom; }
