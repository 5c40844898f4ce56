#include "Passwords.h"

#include "StationPaths.h"

#include <QCryptographicHash>
#include <QFile>

#include <cstdio>

QString g_admin_pswd = QString::fromLatin1(Passwords::kDefaultDigest);
QString g_op_pswd = QString::fromLatin1(Passwords::kDefaultDigest);

const char *const Passwords::kDefaultDigest = "3f9a1c07e5b24d68a0c1f2e4b7d95a13";

QString Passwords::digest(const QString &password)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(password.toLatin1(), QCryptographicHash::Md5).toHex());
}

namespace {

QString readDigest(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        std::printf("Error: Open config file %s\n", qPrintable(path));
        std::fflush(stdout);
        return QString::fromLatin1(Passwords::kDefaultDigest);
    }
    QByteArray line = file.readLine(256);
    // The text ends at a NUL: a file zeroed by a power loss reads as empty, and so gives
    // the default digest instead of an empty one that no typed password can match.
    line.truncate(qstrnlen(line.constData(), line.size()));
    if (line.endsWith('\n'))
        line.chop(1);
    // Every CR before the line end goes, so that what is written back reads the same.
    while (line.endsWith('\r'))
        line.chop(1);
    if (line.isEmpty())
        return QString::fromLatin1(Passwords::kDefaultDigest);
    return QString::fromLatin1(line);
}

bool writeDigest(const QString &path, const QString &digest)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const QByteArray bytes = digest.toLatin1();
    return file.write(bytes) == bytes.size() && file.flush();
}

} // namespace

QString readAdminPassword() { return readDigest(StationPaths::adminPasswordFile()); }
QString readOperatorPassword() { return readDigest(StationPaths::operatorPasswordFile()); }
bool writeAdminPassword() { return writeDigest(StationPaths::adminPasswordFile(), g_admin_pswd); }
bool writeOperatorPassword() { return writeDigest(StationPaths::operatorPasswordFile(), g_op_pswd); }
