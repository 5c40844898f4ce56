#include "CLog.h"

#include "StationPaths.h"

#include <QDir>
#include <QMutexLocker>

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
    openLogFile(now);
    writeLogLine(now, message);
}

bool CLog::openLogFile(const QDateTime &now)
{
    if (!QDir().mkpath(m_folder))
        return m_logOpened;
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

void CLog::writeLogLine(const QDateTime &now, const QString &message)
{
    QMutexLocker locker(&m_logMutex);
    if (!m_logOpened || !m_logFile.isOpen() || !m_writeEnabled)
        return;
    const QString line = QLatin1Char('[')
        + now.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss:zzz")) + QStringLiteral("][INFO] ")
        + message + QLatin1Char('\n');
    m_logFile.write(line.toLocal8Bit());
    m_logFile.flush();
}
