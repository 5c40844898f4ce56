#include "SaveThread.h"

#include "StationQueues.h"
#include "WorkThread.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <opencv2/imgcodecs.hpp>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <exception>

#ifdef __linux__
#include <sys/resource.h>
#include <unistd.h>
#endif

static_assert(SaveThread::kSavingNice > WorkThread::kInspectionNice, "saving must yield to inspection");

namespace {
// The part before the last '/' or '\\'. A bare file name lies in the working directory:
// it has no folder to make (making one of its own name would block the file).
std::string folderOf(const std::string &path)
{
    const std::string::size_type cut = path.find_last_of("/\\");
    return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

QString toQString(const std::string &bytes) { return QString::fromStdString(bytes); }

QString absoluteClean(const QString &path)
{
    return QDir::cleanPath(QDir(path).absolutePath());
}

} // namespace

int SaveThread::writeImage(const SaveRequest &request)
{
    // imwrite says only false; the errno its file calls leave behind tells a full volume
    // (the saver checks the free space as well, in case a later call overwrote it).
    errno = 0;
    // OpenCV throws for an unknown extension or an unsupported image layout; a bad
    // request must not end the thread.
    try {
        if (cv::imwrite(request.path, request.image))
            return 0;
    } catch (const std::exception &) {
        return EINVAL;
    }
    return errno != 0 ? errno : EIO;
}

SaveThread::SaveThread(SyncQueue<SaveRequest> *queue, QObject *parent)
    : QThread(parent)
    , m_queue(queue ? queue : g_save_queue)
    , m_writer(&SaveThread::writeImage)
{
    const auto start = std::chrono::steady_clock::now();
    m_clock = [start] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
            .count();
    };
}

SaveThread::~SaveThread()
{
    m_stop = true;
    // A thread that never ran has no one to take the marker, and a full queue would
    // block this put for ever.
    if (isRunning() && m_queue)
        m_queue->put(SaveRequest{});
    quit();
    wait();
    m_knownDirs.clear();
}

void SaveThread::setWriter(Writer writer)
{
    if (writer)
        m_writer = std::move(writer);
}

void SaveThread::setClock(Clock clock)
{
    if (clock)
        m_clock = std::move(clock);
}

void SaveThread::run()
{
    if (!m_queue)
        return;
#ifdef __linux__
    // Thread priorities mean nothing to Linux's normal scheduler; a nice value does.
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kSavingNice);
#endif
    m_dropsSeen = m_queue->refused();
    for (;;) {
        SaveRequest request;
        m_queue->take(request);
        noteDrops();
        if (request.image.empty()) {
            // Only the marker, queued behind everything else, ends the run, so that
            // every request queued before the stop is written.
            if (m_stop && request.path.empty())
                return;
            continue;
        }
        const int error = write(request);
        if (error == 0)
            written(request);
        else
            failed(request, error);
        emit requestHandled(toQString(request.path), error == 0);
    }
}

int SaveThread::write(const SaveRequest &request)
{
    const std::string folder = folderOf(request.path);
    if (m_knownDirs.find(folder) == m_knownDirs.end()) {
        ensureFolder(folder);
        m_knownDirs.insert(folder);
    }
    const QString path = toQString(request.path);
    const bool existed = QFileInfo::exists(path);
    int error = m_writer(request);
    // The folder may have been removed while we ran (a day folder deleted by hand, or by
    // the clean-up that made room): make it once more rather than losing every later image
    // of that folder.
    if (error != 0 && !folder.empty() && !QFileInfo(toQString(folder)).isDir()) {
        ensureFolder(folder);
        error = m_writer(request);
    }
    // A write that failed half way leaves a broken file that only takes room.
    if (error != 0 && !existed)
        QFile::remove(path);
    return error;
}

void SaveThread::ensureFolder(const std::string &folder)
{
    const QString path = toQString(folder);
    if (!path.isEmpty() && !QFileInfo(path).isDir())
        QDir().mkpath(path);
}

bool SaveThread::inStore(const std::string &path) const
{
    const QString root = absoluteClean(m_relief.imageRoot());
    return absoluteClean(toQString(path)).startsWith(root + QLatin1Char('/'));
}

void SaveThread::noteDrops()
{
    const unsigned long long drops = m_queue->refused();
    if (drops == m_dropsSeen)
        return;
    const qint64 count = static_cast<qint64>(drops - m_dropsSeen);
    m_dropsSeen = drops;
    lose(count, [count] {
        return QStringLiteral("Images are not being saved: the disk, or the machine, is too slow; the "
                              "save queue was full and %1 image(s) were dropped so that no verdict "
                              "waits. Saving resumes by itself when it keeps up.")
            .arg(count);
    });
}

void SaveThread::failed(const SaveRequest &request, int error)
{
    // Only the store's own volume is measured and relieved: deleting images helps no
    // other.
    const bool ours = inStore(request.path);
    bool noSpace = error == ENOSPC || error == EDQUOT;
    if (!noSpace && ours) {
        const CleanWorkThread::VolumeSpace space = m_relief.volumeSpace();
        const qint64 need = static_cast<qint64>(request.image.total() * request.image.elemSize())
            + kRoomSlackBytes;
        noSpace = space.totalBytes > 0 && space.freeBytes >= 0 && space.freeBytes < need;
    }
    const qint64 now = m_clock();
    if (noSpace && ours && (m_roomAskedMs < 0 || now - m_roomAskedMs >= kRoomIntervalMs)) {
        m_roomAskedMs = now;
        emit roomWanted();
        QMetaObject::invokeMethod(&m_relief, [this] { m_relief.makeRoom(); }, Qt::QueuedConnection);
    }
    lose(1, [&] {
        const QString folder = toQString(folderOf(request.path));
        const QFileInfo info(folder.isEmpty() ? QStringLiteral(".") : folder);
        // A folder that can't be made on a full volume is lack of space too.
        const QString why = noSpace && ours
            ? QStringLiteral("no space left on the volume; the oldest whole-frame images are being "
                             "deleted to make room")
            : noSpace                     ? QStringLiteral("no space left on the volume")
            : !info.isDir()               ? QStringLiteral("the folder cannot be made")
            : !info.isWritable()          ? QStringLiteral("the folder is not writable")
                                          : QStringLiteral("the disk may be full, or the image has no such format");
        return QStringLiteral("Images are not being saved: cannot write %1 (%2). Saving resumes "
                              "by itself when it can write again.")
            .arg(toQString(request.path), why);
    });
}

void SaveThread::written(const SaveRequest &request)
{
    if (!m_failing)
        return;
    ++m_writtenSince;
    if (m_writtenSince < kSteadyImages || m_clock() - m_lastLossMs < kSteadyMs)
        return;
    m_failing = false;
    say(QStringLiteral("Image saving works again (%1); %2 image(s) were not saved.")
            .arg(toQString(request.path))
            .arg(m_lost),
        false);
    m_lost = 0;
}

void SaveThread::lose(qint64 count, const std::function<QString()> &text)
{
    m_lost += count;
    m_writtenSince = 0;
    m_lastLossMs = m_clock();
    if (m_failing)
        return;
    m_failing = true;
    say(text(), true);
}

void SaveThread::say(const QString &text, bool failing)
{
    std::printf("%s\n", qPrintable(text));
    std::fflush(stdout);
    emit saveTrouble(text, failing);
}
