#include "Passwords.h"

#include "SettingsFile.h"
#include "StationPaths.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

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

QString readDigest(const QString &path, const char *role, SettingsRead *found)
{
    SettingsRead ignored;
    SettingsRead &result = found ? *found : ignored;
    result = SettingsRead();
    const QString name = QFileInfo(path).fileName();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        std::printf("Error: Open config file %s\n", qPrintable(path));
        std::fflush(stdout);
        result.state = SettingsRead::Missing;
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
    if (line.isEmpty()) {
        result.state = SettingsRead::Empty;
        result.detail = QStringLiteral("Password file %1 is empty: the built-in %2 password is in force.")
                            .arg(name, QLatin1String(role));
        return QString::fromLatin1(Passwords::kDefaultDigest);
    }
    // Taken as it is, but a cut or garbled digest is said: no typed password matches it.
    static const QRegularExpression whole(QStringLiteral("^[0-9a-f]{32}$"));
    if (!whole.match(QString::fromLatin1(line)).hasMatch()) {
        result.state = SettingsRead::Damaged;
        result.detail = QStringLiteral("Password file %1 holds no whole digest: no %2 password can log in.")
                            .arg(name, QLatin1String(role));
    }
    return QString::fromLatin1(line);
}

} // namespace

QString readAdminPassword(SettingsRead *found)
{
    return readDigest(StationPaths::adminPasswordFile(), "administrator", found);
}

QString readOperatorPassword(SettingsRead *found)
{
    return readDigest(StationPaths::operatorPasswordFile(), "operator", found);
}

bool writeAdminPassword()
{
    return SettingsFile::writeWhole(StationPaths::adminPasswordFile(), g_admin_pswd.toLatin1());
}

bool writeOperatorPassword()
{
    return SettingsFile::writeWhole(StationPaths::operatorPasswordFile(), g_op_pswd.toLatin1());
}
