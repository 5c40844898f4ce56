#pragma once

#include <QByteArray>
#include <QTemporaryFile>

#include <cstdio>
#include <unistd.h>

// Collects what the code under test prints on standard output while it is alive.
class StdoutCapture
{
public:
    StdoutCapture()
    {
        std::fflush(stdout);
        m_file.open();
        m_saved = ::dup(STDOUT_FILENO);
        ::dup2(m_file.handle(), STDOUT_FILENO);
    }
    ~StdoutCapture() { restore(); }
    StdoutCapture(const StdoutCapture &) = delete;
    StdoutCapture &operator=(const StdoutCapture &) = delete;

    // Everything the code printed so far (Qt Test's own message lines left out);
    // capturing goes on.
    QByteArray text()
    {
        std::fflush(stdout);
        QFile f(m_file.fileName());
        if (!f.open(QIODevice::ReadOnly))
            return QByteArray();
        QByteArray kept;
        for (const QByteArray &line : f.readAll().split('\n')) {
            if (line.startsWith("QDEBUG : ") || line.startsWith("QWARN  : ")
                || line.startsWith("QINFO  : "))
                continue;
            kept += line + '\n';
        }
        kept.chop(1); // the split left one line end too many
        return kept;
    }

private:
    void restore()
    {
        if (m_saved < 0)
            return;
        std::fflush(stdout);
        ::dup2(m_saved, STDOUT_FILENO);
        ::close(m_saved);
        m_saved = -1;
    }
    QTemporaryFile m_file;
    int m_saved = -1;
};
