#include "CLog.h"

#include "StationPaths.h"

#include <QDir>
#include <QMutexLocker>

#include <cstdio>

CLog::CLog(const QString &folder, Clock clock, QObject *parent)
    : QObject(parent)
    , m_folder(folder.isEmpty() ? StationPaths::logRoot() : folder)
    , m_clock(clock ? std::move(clock) : Clock([] { return QDateTime::currentDateTime(); }))
{
}

QString CLog::fileNameFor(const QDateTime &when) const
{
    return QDir(m_folder).filePath(when.toString(QStringLiteral("yyyy-MM-dd")) + ".txt");
}

void CLog::recMegFromGluebox(QString message)
{
    const QDateTime now = m_clock();
    m_writeEnabled = true;
    const QString file = fileNameFor(now);
    QString problem;
    if (!openLogFile(now))
        problem = QDir(m_folder).exists() ? m_logFile.errorString()
                                          : QStringLiteral("the folder cannot be made");
    else if (!writeLogLine(now, message))
        problem = m_logFile.errorString();
    if (problem.isEmpty()) {
        if (m_lost > 0)
            report(QStringLiteral("Operation log: writing to %1 again; %2 message(s) were lost.")
                       .arg(file)
                       .arg(m_lost),
                   false);
        m_problem.clear();
        m_lost = 0;
        return;
    }
    ++m_lost;
    if (m_problem.isEmpty())
        report(QStringLiteral("Operation log: cannot write %1 (%2); messages are lost until it can be written.")
                   .arg(file, problem),
               true);
    m_problem = problem;
}

void CLog::report(const QString &text, bool failing)
{
    std::printf("%s\n", qPrintable(text));
    std::fflush(stdout);
    emit writeTrouble(text, failing);
}

bool CLog::openLogFile(const QDateTime &now)
{
    if (!QDir().mkpath(m_folder)) {
        // Still today's file, already open: go on writing to it.
        return m_logFile.isOpen() && m_logFile.fileName() == fileNameFor(now);
    }
    const QString today = fileNameFor(now);
    // Keep the open file while it is today's and still on disk; otherwise (first
    // message, a new day, the file removed under us) open today's in append mode.
    if (m_logFile.isOpen() && m_logFile.fileName() == today && QFile::exists(today))
        return true;
    m_logFile.close();
    m_logFile.setFileName(today);
    if (m_logFile.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text))
        m_logOpened = true;
    return m_logFile.isOpen();
}

bool CLog::writeLogLine(const QDateTime &now, const QString &message)
{
    QMutexLocker locker(&m_logMutex);
    if (!m_logOpened || !m_logFile.isOpen() || !m_writeEnabled)
        return false;
    const QString line = QLatin1Char('[')
        + now.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss:zzz")) + QStringLiteral("][INFO] ")
        + message + QLatin1Char('\n');
    const QByteArray bytes = line.toLocal8Bit();
    // A full disk shows only at the flush; what could not be written is dropped, so the
    // next line does not carry it along.
    const bool written = m_logFile.write(bytes) == bytes.size() && m_logFile.flush();
    if (!written)
        m_logFile.close();
    return written;
}
