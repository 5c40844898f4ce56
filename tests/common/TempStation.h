#pragma once

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

// A throw-away station folder (bin/, conf/, data/) with the working directory moved into
// its bin/, so that the station's relative paths ("../conf/conf.txt") land inside it.
// The previous working directory comes back when it goes out of scope.
class TempStation
{
public:
    TempStation()
        : m_previous(QDir::currentPath())
    {
        QDir root(m_dir.path());
        root.mkpath(QStringLiteral("bin"));
        root.mkpath(QStringLiteral("conf"));
        root.mkpath(QStringLiteral("data"));
        QDir::setCurrent(root.filePath(QStringLiteral("bin")));
    }
    ~TempStation() { QDir::setCurrent(m_previous); }
    TempStation(const TempStation &) = delete;
    TempStation &operator=(const TempStation &) = delete;

    bool isValid() const { return m_dir.isValid(); }
    QString root() const { return m_dir.path(); }
    QString path(const QString &relativeToRoot) const { return m_dir.filePath(relativeToRoot); }

    // Writes bytes to a path relative to bin/ (as the station names its files).
    static bool write(const QString &path, const QByteArray &bytes)
    {
        QFile f(path);
        return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
    }
    // Copies every file below `from` to the same place below `to` (a station template
    // into a test's folder); false at the first file that cannot be copied.
    static bool copyTree(const QString &from, const QString &to)
    {
        QDirIterator it(from, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString file = it.next();
            const QString target = to + file.mid(from.size());
            if (!QDir().mkpath(QFileInfo(target).path()) || !QFile::copy(file, target))
                return false;
        }
        return true;
    }
    // Whether writer puts a new file in place of path instead of writing into the old one:
    // a reader that opened the old file still reads all of it afterwards, as a power cut in
    // the middle of the save would have left it.
    template <typename Writer>
    static bool replacesWhole(const QString &path, Writer writer)
    {
        const QByteArray old = "the text before the save\n";
        QFile before(path);
        if (!write(path, old) || !before.open(QIODevice::ReadOnly) || !writer())
            return false;
        return before.readAll() == old && read(path) != old;
    }
    static QByteArray read(const QString &path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    // The operation log of a station's log folder as one text: every day's file in date
    // order, so that a test running over midnight reads its log whole.
    static QByteArray readLogs(const QString &folder)
    {
        QByteArray all;
        const QDir dir(folder);
        for (const QString &name : dir.entryList({QStringLiteral("*.txt")}, QDir::Files, QDir::Name))
            all += read(dir.filePath(name));
        return all;
    }

    static int filesUnder(const QString &folder)
    {
        int n = 0;
        QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            it.next();
            ++n;
        }
        return n;
    }

    // Files under `tail` in every day's folder of an image folder (<images>/<day>/<tail>), so
    // that a test running over midnight counts the pictures saved on both sides of it.
    static int filesOnEveryDay(const QString &images, const QString &tail)
    {
        const QDir dir(images);
        int n = 0;
        for (const QString &day : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
            n += filesUnder(dir.filePath(day + QLatin1Char('/') + tail));
        return n;
    }

private:
    QString m_previous;
    QTemporaryDir m_dir;
};
