#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM and SIGINT into a normal end of the event loop, so that a service
// manager or Ctrl+C stops the station through its regular shutdown (threads joined,
// "Application exited." logged). Does nothing on Windows.
class UnixSignalWatcher : public QObject
{
    Q_OBJECT
public:
    // Installs the handlers before anything else runs, so that a stop request during
    // start-up is kept for the watcher instead of ending the process on the spot.
    static void catchEarly();

    explicit UnixSignalWatcher(QObject *parent = nullptr);
    ~UnixSignalWatcher() override;

signals:
    void terminationRequested(int signalNumber);

private:
    void onReadable();
    QSocketNotifier *m_notifier = nullptr;
};
