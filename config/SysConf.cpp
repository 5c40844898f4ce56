#include "SysConf.h"

#include "ConfLineReader.h"
#include "SettingsFile.h"
#include "StationPaths.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QStringList>

#include <cstdio>

SysConf g_sys_conf;

SysConf::SysConf()
    : MonitorIP("192.168.1.10")
{
    for (int k = 0; k < kCameras; ++k) {
        EXPO[k] = 2000;
        GAIN[k] = 0;
        FILTER[k] = 500;
        USERID[k] = 255;
        for (int s = 0; s < kMaxShots; ++s)
            NO[k][s] = 0;
        SHOOT[k] = 3;
    }
}

std::vector<std::string> splitString(const std::string &text, const std::string &separator)
{
    if (separator.empty())
        return {text};
    std::vector<std::string> pieces;
    const std::string s = text + separator;
    std::string::size_type start = 0;
    std::string::size_type pos;
    while ((pos = s.find(separator, start)) != std::string::npos) {
        pieces.push_back(s.substr(start, pos - start));
        start = pos + separator.size();
    }
    return pieces;
}

namespace {

void setShiftTime(QTime &field, const QByteArray &value)
{
    const std::vector<std::string> pieces = splitString(value.toStdString(), "|");
    if (pieces.size() != 2)
        return;
    const int hour = ConfLineReader::leadingInt(QByteArray::fromStdString(pieces[0]));
    const int minute = ConfLineReader::leadingInt(QByteArray::fromStdString(pieces[1]));
    // Out-of-range values give an invalid time, which a later save writes as -1|-1.
    field = QTime(hour, minute, 0);
}

void setRecipe(int (&field)[SysConf::kMaxShots], const QByteArray &value)
{
    const std::vector<std::string> pieces = splitString(value.toStdString(), "|");
    if (pieces.size() != SysConf::kMaxShots)
        return;
    for (int s = 0; s < SysConf::kMaxShots; ++s)
        field[s] = ConfLineReader::leadingInt(QByteArray::fromStdString(pieces[s]));
}

// The worker cuts each frame into SHOOT parts and reads that many recipe values, so
// a value outside 1..3 would divide by zero or read past the recipe.
void setShoot(int &field, const QByteArray &key, const QByteArray &value)
{
    const int shots = ConfLineReader::leadingInt(value);
    if (shots < 1 || shots > SysConf::kMaxShots) {
        std::printf("Ignored %s=%d in %s (must be 1 to 3), keeping %d\n", key.constData(), shots,
                    qPrintable(StationPaths::confFile()), field);
        std::fflush(stdout);
        return;
    }
    field = shots;
}

// False for a line that sets nothing (a separator, a comment, an unknown key).
bool applyLine(SysConf &c, const QByteArray &key, const QByteArray &value)
{
    auto toInt = [&value] { return ConfLineReader::leadingInt(value); };
    if (key == "SAVE") c.SAVE = toInt();
    else if (key == "MISMATCHACT") c.MISMATCHACT = toInt();
    else if (key == "SAVE_DAYS") c.SAVE_DAYS = toInt();
    else if (key == "AUTO_OPEN") c.AUTO_OPEN = toInt();
    else if (key == "AUTO_WORK") c.AUTO_WORK = toInt();
    else if (key == "AUTO_SHIFT") c.AUTO_SHIFT = toInt();
    else if (key == "TIMING_SHIFT") c.TIMING_SHIFT = toInt();
    else if (key == "SHIFT_A") setShiftTime(c.SHIFT_A, value);
    else if (key == "SHIFT_B") setShiftTime(c.SHIFT_B, value);
    else if (key == "SHIFT_C") setShiftTime(c.SHIFT_C, value);
    else if (key == "MonitorIP") c.MonitorIP = value.toStdString();
    else if (key == "MonitorPort") c.MonitorPort = toInt();
    else {
        for (int k = 0; k < SysConf::kCameras; ++k) {
            const QByteArray n = QByteArray::number(k + 1);
            if (key == "EXPO" + n) c.EXPO[k] = toInt();
            else if (key == "GAIN" + n) c.GAIN[k] = toInt();
            else if (key == "FILTER" + n) c.FILTER[k] = toInt();
            else if (key == "USERID" + n) c.USERID[k] = toInt();
            else if (key == "NO" + n) setRecipe(c.NO[k], value);
            else if (key == "SHOOT" + n) setShoot(c.SHOOT[k], key, value);
            else continue;
            return true;
        }
        return false;
    }
    return true;
}

QByteArray confText(const SysConf &conf)
{
    QByteArray out;
    auto line = [&out](const QByteArray &text) { out += text + '\n'; };
    auto num = [](int v) { return QByteArray::number(v); };
    auto time = [&num](const QTime &t) { return num(t.hour()) + '|' + num(t.minute()); };
    const QByteArray separator(41, '*');

    line("SAVE=" + num(conf.SAVE));
    line("MISMATCHACT=" + num(conf.MISMATCHACT));
    line("SAVE_DAYS=" + num(conf.SAVE_DAYS));
    line("AUTO_OPEN=" + num(conf.AUTO_OPEN));
    line("AUTO_WORK=" + num(conf.AUTO_WORK));
    line("AUTO_SHIFT=" + num(conf.AUTO_SHIFT));
    line("TIMING_SHIFT=" + num(conf.TIMING_SHIFT));
    line("SHIFT_A=" + time(conf.SHIFT_A));
    line("SHIFT_B=" + time(conf.SHIFT_B));
    line("SHIFT_C=" + time(conf.SHIFT_C));
    line(separator);
    for (int k = 0; k < SysConf::kCameras; ++k) {
        const QByteArray n = num(k + 1);
        line("EXPO" + n + '=' + num(conf.EXPO[k]));
        line("GAIN" + n + '=' + num(conf.GAIN[k]));
        line("FILTER" + n + '=' + num(conf.FILTER[k]));
        line("USERID" + n + '=' + num(conf.USERID[k]));
        line("NO" + n + '=' + num(conf.NO[k][0]) + '|' + num(conf.NO[k][1]) + '|'
             + num(conf.NO[k][2]));
        line("SHOOT" + n + '=' + num(conf.SHOOT[k]));
        line(separator);
    }
    line("MonitorIP=" + QByteArray::fromStdString(conf.MonitorIP));
    line("MonitorPort=" + num(conf.MonitorPort));
    return out;
}

// Every key the writer writes, in its order.
const QList<QByteArray> &writtenKeys()
{
    static const QList<QByteArray> keys = [] {
        QList<QByteArray> k;
        const SysConf defaults;
        for (const QByteArray &line : confText(defaults).split('\n'))
            if (line.contains('='))
                k << line.left(line.indexOf('='));
        return k;
    }();
    return keys;
}

// A file that lacks a setting the writer always writes was cut short (a save that a power
// loss stopped leaves the lines before the cut). Where a hand edit put the keys, or whether
// the last line has a line end, does not matter: a file with every key is whole.
SettingsRead check(const QByteArray &bytes, const QSet<QByteArray> &keys)
{
    SettingsRead found;
    const QString name = QFileInfo(StationPaths::confFile()).fileName();
    if (SettingsFile::blank(bytes)) {
        found.state = SettingsRead::Empty;
        found.detail = QStringLiteral("Settings file %1 is empty: the default settings are in force.").arg(name);
        return found;
    }
    QStringList lacking;
    for (const QByteArray &key : writtenKeys())
        if (!keys.contains(key))
            lacking << QString::fromLatin1(key);
    if (lacking.isEmpty())
        return found;
    found.state = SettingsRead::Damaged;
    const QString shown = lacking.size() <= 3 ? lacking.join(QStringLiteral(", "))
                                              : QStringLiteral("%1 and %2 more").arg(lacking.first()).arg(lacking.size() - 1);
    found.detail = QStringLiteral("Settings file %1 is cut short (no %2): those settings have their defaults.")
                       .arg(name, shown);
    return found;
}

} // namespace

bool readConfFile(SysConf &conf, SettingsRead *found)
{
    QFile file(StationPaths::confFile());
    if (!file.open(QIODevice::ReadOnly)) {
        std::printf("Error: Open config file %s\n", qPrintable(StationPaths::confFile()));
        std::fflush(stdout);
        if (found) {
            found->state = SettingsRead::Missing;
            found->detail = QStringLiteral("Settings file %1 is missing: the default settings are in force.")
                                .arg(QFileInfo(StationPaths::confFile()).fileName());
        }
        return false;
    }
    QByteArray bytes = file.readAll();
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    ConfLineReader reader(buffer);
    QByteArray line, key, value;
    QSet<QByteArray> keys;
    while (reader.nextLine(line)) {
        ConfLineReader::splitKeyValue(line, key, value);
        if (applyLine(conf, key, value))
            keys.insert(key);
    }
    if (found)
        *found = check(bytes, keys);
    return true;
}

bool writeConfFile(const SysConf &conf)
{
    return SettingsFile::writeWhole(StationPaths::confFile(), confText(conf), true);
}

bool writeConfFile()
{
    return writeConfFile(g_sys_conf);
}
