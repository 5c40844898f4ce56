#pragma once

// What the fuzz targets share: a throw-away station folder to read the files from, and
// property checks that stop the run with the property's text.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                                                \
    do {                                                                                     \
        if (!(condition)) {                                                                  \
            std::fprintf(stderr, "property broken: %s (%s:%d)\n", #condition, __FILE__,      \
                         __LINE__);                                                          \
            std::abort();                                                                    \
        }                                                                                    \
    } while (0)

namespace Fuzz {

// The first call makes a station folder (bin/, conf/, data/) and moves the working
// directory into its bin/, where the readers' relative paths expect it. Standard output,
// where the readers complain about bad lines, goes to /dev/null.
inline void enterStation()
{
    static QTemporaryDir *dir = nullptr;
    if (dir)
        return;
    dir = new QTemporaryDir; // lives as long as the process, like the working directory
    QDir root(dir->path());
    root.mkpath(QStringLiteral("bin"));
    root.mkpath(QStringLiteral("conf"));
    root.mkpath(QStringLiteral("data"));
    QDir::setCurrent(root.filePath(QStringLiteral("bin")));
    if (!std::getenv("FUZZ_SHOW_STDOUT"))
        std::freopen("/dev/null", "w", stdout);
}

inline void write(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    FUZZ_CHECK(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    FUZZ_CHECK(f.write(bytes) == bytes.size());
}

inline void write(const QString &path, const uint8_t *data, size_t size)
{
    write(path, QByteArray(reinterpret_cast<const char *>(data), static_cast<int>(size)));
}

inline QByteArray read(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace Fuzz
