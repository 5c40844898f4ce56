#pragma once

#include <QDateTime>
#include <QFile>
#include <QMutex>
#include <QObject>
#include <QString>

#include <functional>

// The operation log: one text file per day, "[yyyy-MM-dd hh:mm:ss:zzz][INFO] message".
// Lives on a thread of its own; the window reaches it only through a queued signal, so
// the GUI never waits for the disk.
class CLog : public QObject
{
    Q_OBJECT
public:
    enum CLOG_TYPE {
        STARTAPP,
        STARTWORK,
        PAUSEWORK,
        UNLOCK,
        DEBUGMODE,
        UNKICKMODE,
        SETTING,
        CLEANPIC,
        DOUBLECLICK,
        ROTATEPIC,
        PLCSETTING,
        ALARM
    };
    Q_ENUM(CLOG_TYPE)

    using Clock = std::function<QDateTime()>;

    // folder: where the day files go (the station's log folder by default).
    // clock: local time source, replaceable so that a test can cross midnight.
    explicit CLog(const QString &folder = QString(), Clock clock = Clock(),
                  QObject *parent = nullptr);

    // Path of the file that a message written at `when` goes to.
    QString fileNameFor(const QDateTime &when) const;

public slots:
    // Runs on the log thread. A message that cannot be written is dropped; the first
    // loss and the first line written after losses are reported (writeTrouble), not each.
    void recMegFromGluebox(QString message);

signals:
    // Emitted on the log thread, and printed to standard output as well: when messages
    // begin to be lost (with the file and the reason; failing true), and when writing
    // works again (with the number lost; failing false). Every message retries the
    // folder and the file.
    void writeTrouble(QString text, bool failing);

private:
    bool openLogFile(const QDateTime &now);
    bool writeLogLine(const QDateTime &now, const QString &message);
    void report(const QString &text, bool failing);

    QString m_folder;
    Clock m_clock;
    QFile m_logFile;
    bool m_logOpened = false;
    bool m_writeEnabled = false;
    QMutex m_logMutex; // serialises formatting and writing of one line
    QString m_problem; // why the last message was lost; empty while writing works
    int m_lost = 0;    // messages lost since writing last worked
};
