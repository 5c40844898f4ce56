#include "SettingsFile.h"

#include <QSaveFile>

bool SettingsFile::blank(const QByteArray &bytes)
{
    for (char c : bytes)
        if (c != '\0' && c != '\n' && c != '\r' && c != ' ' && c != '\t')
            return false;
    return true;
}

bool SettingsFile::writeWhole(const QString &path, const QByteArray &bytes, bool text)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | (text ? QIODevice::Text : QIODevice::NotOpen)))
        return false;
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}
