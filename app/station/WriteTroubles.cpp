#include "WriteTroubles.h"

#include <QStringList>

#include <cstdio>

WriteTroubles::WriteTroubles(QObject *parent)
    : QObject(parent)
{
    for (int s = 0; s < kSources; ++s) {
        m_recovered[s].setSingleShot(true);
        connect(&m_recovered[s], &QTimer::timeout, this, [this, s] { clear(Source(s)); });
    }
}

QString WriteTroubles::text() const
{
    QStringList lines;
    for (const QString &t : m_text)
        if (!t.isEmpty())
            lines << t;
    for (const QString &t : m_camera)
        if (!t.isEmpty())
            lines << t;
    lines << m_settings.values();
    return lines.join(QLatin1Char('\n'));
}

bool WriteTroubles::failing() const
{
    for (bool f : m_failing)
        if (f)
            return true;
    for (const QString &t : m_camera)
        if (!t.isEmpty())
            return true;
    return !m_settings.isEmpty();
}

void WriteTroubles::logTrouble(const QString &text, bool failing)
{
    report(Log, text, failing);
}

void WriteTroubles::saveTrouble(const QString &text, bool failing)
{
    report(Images, text, failing);
}

void WriteTroubles::plantTrouble(const QString &text, bool failing)
{
    if (!failing && !m_failing[Plant] && m_text[Plant].isEmpty()) {
        emit log(text);
        return;
    }
    report(Plant, text, failing);
}

void WriteTroubles::settingsTrouble(const QString &what, const QString &text)
{
    if (m_settings.value(what) == text)
        return;
    if (text.isEmpty()) {
        m_settings.remove(what);
    } else {
        m_settings.insert(what, text);
        std::printf("%s\n", qPrintable(text));
        std::fflush(stdout);
        emit log(text);
    }
    show();
}

void WriteTroubles::cameraTrouble(int position, const QString &text)
{
    if (position < 0 || position >= 4 || m_camera[position] == text)
        return;
    m_camera[position] = text;
    show();
}

void WriteTroubles::report(Source source, const QString &text, bool failing)
{
    m_text[source] = text;
    m_failing[source] = failing;
    if (failing)
        m_recovered[source].stop();
    else
        m_recovered[source].start(kRecoveredShownMs);
    if (source != Log || !failing)
        emit log(text);
    show();
}

void WriteTroubles::clear(Source source)
{
    m_text[source].clear();
    m_failing[source] = false;
    show();
}

void WriteTroubles::show()
{
    emit shown(text(), failing() ? QStringLiteral("background-color: rgb(255, 255, 0);")
                                 : QStringLiteral("background-color: rgb(0, 170, 0);"));
}
