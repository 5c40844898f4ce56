#include "SaveThread.h"

#include "StationQueues.h"

#include <QDir>
#include <QFileInfo>

#include <opencv2/imgcodecs.hpp>

#include <cstdio>
#include <exception>

namespace {
// The part before the last '/' or '\\'. A bare file name lies in the working directory:
// it has no folder to make (making one of its own name would block the file).
std::string folderOf(const std::string &path)
{
    const std::string::size_type cut = path.find_last_of("/\\");
    return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

QString toQString(const std::string &bytes) { return QString::fromStdString(bytes); }

bool writeImage(const SaveRequest &request)
{
    // OpenCV throws for an unknown extension or an unsupported image layout; a bad
    // request must not end the thread.
    try {
        return cv::imwrite(request.path, request.image);
    } catch (const std::exception &) {
        return false;
    }
}
} // namespace

SaveThread::SaveThread(SyncQueue<SaveRequest> *queue, QObject *parent)
    : QThread(parent)
    , m_queue(queue ? queue : g_save_queue)
{
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

void SaveThread::run()
{
    if (!m_queue)
        return;
    for (;;) {
        SaveRequest request;
        m_queue->take(request);
        if (request.image.empty()) {
            // Only the marker, queued behind everything else, ends the run, so that
            // every request queued before the stop is written.
            if (m_stop && request.path.empty())
                return;
            continue;
        }
        const bool written = write(request);
        account(request, written);
        emit requestHandled(toQString(request.path), written);
    }
}

bool SaveThread::write(const SaveRequest &request)
{
    const std::string folder = folderOf(request.path);
    if (m_knownDirs.find(folder) == m_knownDirs.end()) {
        ensureFolder(folder);
        m_knownDirs.insert(folder);
    }
    if (writeImage(request))
        return true;
    // The folder may have been removed while we ran (a day folder deleted by hand):
    // make it once more rather than losing every later image of that folder.
    if (folder.empty() || QFileInfo(toQString(folder)).isDir())
        return false;
    ensureFolder(folder);
    return writeImage(request);
}

void SaveThread::ensureFolder(const std::string &folder)
{
    const QString path = toQString(folder);
    if (!path.isEmpty() && !QFileInfo(path).isDir())
        QDir().mkpath(path);
}

void SaveThread::account(const SaveRequest &request, bool written)
{
    QString text;
    if (written && m_lost > 0) {
        text = QStringLiteral("Image saving works again (%1); %2 image(s) were not saved.")
                   .arg(toQString(request.path))
                   .arg(m_lost);
        m_lost = 0;
    } else if (!written && m_lost++ == 0) {
        const QString folder = toQString(folderOf(request.path));
        const QFileInfo info(folder.isEmpty() ? QStringLiteral(".") : folder);
        const QString why = !info.isDir() ? QStringLiteral("the folder cannot be made")
            : !info.isWritable()          ? QStringLiteral("the folder is not writable")
                                          : QStringLiteral("the disk may be full, or the image has no such format");
        text = QStringLiteral("Images are not being saved: cannot write %1 (%2). Saving resumes "
                              "by itself when it can write again.")
                   .arg(toQString(request.path), why);
    }
    if (text.isEmpty())
        return;
    std::printf("%s\n", qPrintable(text));
    std::fflush(stdout);
    emit saveTrouble(text, !written);
}
