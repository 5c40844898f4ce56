#pragma once

#include <QMap>
#include <QObject>
#include <QString>
#include <QTimer>

// What the operator is told when the operation log or the image store cannot be written,
// or the plant's broker cannot be reached.
// Each source says so once when it begins to lose lines or images and once when it
// writes again (CLog::writeTrouble, SaveThread::saveTrouble); this keeps one line per
// source on screen: a failing one until it writes again, the "again" line (with what was
// lost) for a minute after. Below them, one line per settings file that was not read
// whole (settingsTrouble), until it is cleared. GUI thread only; the window shows what
// `shown` says.
class WriteTroubles : public QObject
{
    Q_OBJECT
public:
    static constexpr int kRecoveredShownMs = 60000;

    explicit WriteTroubles(QObject *parent = nullptr);

    QString text() const;   // what is on screen now, one line per source; empty: nothing
    bool failing() const;   // some source is still losing what it writes, or a settings line stands

public slots:
    void logTrouble(const QString &text, bool failing);
    void saveTrouble(const QString &text, bool failing);
    // The plant's broker: unreachable, refusing, or messages dropped, and the end of it. An
    // end with no trouble before it (the first connect) is only logged.
    void plantTrouble(const QString &text, bool failing);
    // What is wrong with one settings file (or another thing that `what` names), shown in
    // yellow until it comes again empty; a new text is said on standard output and logged.
    void settingsTrouble(const QString &what, const QString &text);
    // A camera's line (it cannot eject, or cannot be opened), shown until it is replaced
    // or cleared (empty text). Its sender logs it.
    void cameraTrouble(int position, const QString &text);

signals:
    // The lines to show (empty: hide) and their colour: yellow while something fails,
    // green once everything writes again.
    void shown(const QString &text, const QString &style);
    // A line for the operation log. The log's own failure is not sent to it: it could
    // not be written, and CLog has printed it on standard output already.
    void log(const QString &line);

private:
    enum Source { Log, Images, Plant, kSources };
    void report(Source source, const QString &text, bool failing);
    void clear(Source source);
    void show();

    QString m_text[kSources];
    bool m_failing[kSources] = {};
    QTimer m_recovered[kSources];
    QMap<QString, QString> m_settings;
    QString m_camera[4];
};
