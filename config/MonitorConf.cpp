#include "MonitorConf.h"

#include "ConfLineReader.h"

#include <QFile>
#include <QSysInfo>

bool MonitorConf::validName(const QString &name)
{
    if (name.isEmpty() || name.size() > 64)
        return false;
    for (const QChar c : name)
        if (c == QLatin1Char('/') || c == QLatin1Char('+') || c == QLatin1Char('#') || c.isSpace()
            || c.unicode() < 0x20)
            return false;
    return true;
}

MonitorConf MonitorConf::read(const QString &path, QStringList *problems)
{
    MonitorConf conf;
    conf.name = QSysInfo::machineHostName();
    if (!validName(conf.name))
        conf.name = QStringLiteral("gluebox");
    auto problem = [&](const QString &text) {
        if (problems)
            *problems << path + QStringLiteral(": ") + text;
    };
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return conf;
    ConfLineReader reader(file);
    QByteArray line;
    while (reader.nextLine(line)) {
        const QByteArray trimmedLine = line.trimmed();
        if (trimmedLine.isEmpty() || trimmedLine.startsWith('#'))
            continue;
        QByteArray key, value;
        ConfLineReader::splitKeyValue(trimmedLine, key, value);
        key = key.trimmed();
        const QString text = QString::fromUtf8(value.trimmed());
        if (key == "name") {
            if (validName(text))
                conf.name = text;
            else
                problem(QStringLiteral("name \"%1\" cannot be a topic level (no /, +, # or blanks); "
                                       "kept \"%2\"").arg(text, conf.name));
        } else if (key == "user") {
            conf.user = text;
        } else if (key == "password") {
            conf.password = text;
        } else if (key == "cafile") {
            conf.caFile = text;
        } else if (key == "queue") {
            bool ok = false;
            const int n = text.toInt(&ok);
            if (ok && n >= kMinQueue && n <= kMaxQueue)
                conf.queue = n;
            else
                problem(QStringLiteral("queue=%1 is not a number from %2 to %3; kept %4")
                            .arg(text).arg(kMinQueue).arg(kMaxQueue).arg(conf.queue));
        } else {
            problem(QStringLiteral("line \"%1\" is not understood").arg(QString::fromUtf8(trimmedLine)));
        }
    }
    return conf;
}
