#pragma once

#include "CleanupRunner.h"
#include "SaveRequest.h"
#include "SyncQueue.h"

#include <QString>
#include <QThread>

#include <atomic>
#include <functional>
#include <string>
#include <unordered_set>

// The one thread that writes image files, so that encoding and disk writes never slow the
// inspection workers. Takes SaveRequests from the save queue, makes sure each target
// folder exists (looked up once per run, and again only after a failed write) and writes
// the image with OpenCV's writer, the format following the extension. Nothing it meets on
// disk stops it: a failed write is reported by requestHandled and the next request follows.
// An image of the store that could not be written for lack of space asks for a clean-up
// that makes room (relief(), on a thread of its own); images the workers dropped because
// the queue was full are lost images too.
class SaveThread : public QThread
{
    Q_OBJECT
public:
    // Writes one image: 0 when written, else why not (an errno value, EIO when none is known).
    using Writer = std::function<int(const SaveRequest &request)>;
    using Clock = std::function<qint64()>; // steady milliseconds

    // Losing images is said over only once this many images in a row were written and
    // none was lost for kSteadyMs: a volume that the clean-up relieves by a little fills
    // again within a second or two, and the band must not come and go with it.
    static constexpr int kSteadyImages = 5;
    static constexpr qint64 kSteadyMs = 5000;
    // A volume that stays full asks for room at most this often, not for every image.
    static constexpr qint64 kRoomIntervalMs = 5000;
    // Over an image's raw size: the volume had no room for it when less than that is free.
    static constexpr qint64 kRoomSlackBytes = 64 * 1024;
    // Encoding yields to inspection (WorkThread::kInspectionNice): an image may wait, or be
    // dropped at a full queue, a verdict may not.
    static constexpr int kSavingNice = 10;

    // queue: where the requests come from; null means the global save queue, which must
    // then exist already.
    explicit SaveThread(SyncQueue<SaveRequest> *queue = nullptr, QObject *parent = nullptr);
    // Stops the thread after the requests already queued: sets the stop flag, puts a stop
    // marker (empty path, empty image) behind them and waits for the thread to end.
    ~SaveThread() override;

    // The clean-up that makes room, living on the thread that made this saver. Its image
    // root and free-space probe are also where and how the saver looks for lack of space;
    // set them before start() (defaults: the station's image store and its volume).
    CleanupRunner &relief() { return m_relief; }
    // The default writer: OpenCV's, the format following the extension.
    static int writeImage(const SaveRequest &request);
    // Before start(), for tests and benchmarks: another writer, another clock.
    void setWriter(Writer writer);
    void setClock(Clock clock);

signals:
    // Emitted on the saving thread for every request with image data; written is false
    // when the file could not be written.
    void requestHandled(QString path, bool written);
    // Emitted on the saving thread, and printed to standard output as well, once when
    // images begin to be lost (naming the file and why, or the dropping; failing true) and
    // once when writing has held again (with the number lost; failing false), never per image.
    void saveTrouble(QString text, bool failing);
    // Emitted on the saving thread when it asks relief() to make room.
    void roomWanted();

protected:
    void run() override;

private:
    int write(const SaveRequest &request);
    void ensureFolder(const std::string &folder);
    bool inStore(const std::string &path) const;
    void noteDrops();
    void failed(const SaveRequest &request, int error);
    void written(const SaveRequest &request);
    void lose(qint64 count, const std::function<QString()> &text);
    void say(const QString &text, bool failing);

    SyncQueue<SaveRequest> *const m_queue;
    CleanupRunner m_relief;
    Writer m_writer;
    Clock m_clock;
    std::atomic<bool> m_stop{false};            // set only by the destructor
    // Used by the saving thread only:
    std::unordered_set<std::string> m_knownDirs;
    bool m_failing = false;          // losing images, not yet said over
    qint64 m_lost = 0;               // images lost since saving was last said to work
    int m_writtenSince = 0;          // images written in a row since the last loss
    qint64 m_lastLossMs = 0;
    qint64 m_roomAskedMs = -1;       // when room was last asked for; -1: never
    unsigned long long m_dropsSeen = 0;
};
