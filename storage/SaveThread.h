#pragma once

#include "SaveRequest.h"
#include "SyncQueue.h"

#include <QString>
#include <QThread>

#include <atomic>
#include <string>
#include <unordered_set>

// The one thread that writes image files, so that encoding and disk writes never slow the
// inspection workers. Takes SaveRequests from the save queue, makes sure each target
// folder exists (looked up once per run, and again only after a failed write) and writes
// the image with OpenCV's writer, the format following the extension. Nothing it meets on
// disk stops it: a failed write is reported by requestHandled and the next request follows.
class SaveThread : public QThread
{
    Q_OBJECT
public:
    // queue: where the requests come from; null means the global save queue, which must
    // then exist already.
    explicit SaveThread(SyncQueue<SaveRequest> *queue = nullptr, QObject *parent = nullptr);
    // Stops the thread after the requests already queued: sets the stop flag, puts a stop
    // marker (empty path, empty image) behind them and waits for the thread to end.
    ~SaveThread() override;

signals:
    // Emitted on the saving thread for every request with image data; written is false
    // when the file could not be written.
    void requestHandled(QString path, bool written);
    // Emitted on the saving thread, and printed to standard output as well, once when
    // images begin to be lost (naming the file and why; failing true) and once when a
    // file is written again (with the number lost; failing false), never per image.
    void saveTrouble(QString text, bool failing);

protected:
    void run() override;

private:
    bool write(const SaveRequest &request);
    void ensureFolder(const std::string &folder);
    void account(const SaveRequest &request, bool written);

    SyncQueue<SaveRequest> *const m_queue;
    std::atomic<bool> m_stop{false};            // set only by the destructor
    std::unordered_set<std::string> m_knownDirs; // used by the saving thread only
    int m_lost = 0;                               // images lost since the last written one
};
