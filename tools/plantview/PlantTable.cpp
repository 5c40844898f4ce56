#include "PlantTable.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <QVector>

#include <algorithm>
#include <cmath>

namespace {

// A count as the station sends it: a whole number a double holds exactly.
bool countOf(const QJsonValue &v, qint64 *out)
{
    if (!v.isDouble())
        return false;
    const double d = v.toDouble();
    if (!std::isfinite(d) || d < 0 || d > 9e15 || std::floor(d) != d)
        return false;
    *out = static_cast<qint64>(d);
    return true;
}

// Names and alarm texts come from whoever can publish: no escape sequence of theirs may
// reach the terminal, nor a line break or a reversal of the text's direction.
QString printable(const QString &text)
{
    QString out;
    for (const uint c : text.toUcs4()) {
        const QChar::Category cat = QChar::category(c);
        if (cat == QChar::Other_Control || cat == QChar::Other_Format || cat == QChar::Separator_Line
            || cat == QChar::Separator_Paragraph || cat == QChar::Other_NotAssigned
            || cat == QChar::Other_Surrogate)
            out += QLatin1Char('?');
        else
            out += QString::fromUcs4(&c, 1);
    }
    return out;
}

// Columns a character takes on a terminal: two for the East Asian wide ones (the alarm
// texts are Chinese), one for the rest.
int columnsOf(uint c)
{
    return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0x303E) || (c >= 0x3041 && c <= 0xA4CF)
                   || (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF)
                   || (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60)
                   || (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x20000 && c <= 0x3FFFD)
               ? 2
               : 1;
}

int columnsOf(const QString &text)
{
    int n = 0;
    for (const uint c : text.toUcs4())
        n += columnsOf(c);
    return n;
}

QString cut(const QString &text, int columns)
{
    if (columnsOf(text) <= columns)
        return text;
    QString out;
    int n = 0;
    for (const uint c : text.toUcs4()) {
        if (n + columnsOf(c) > columns - 1)
            break;
        n += columnsOf(c);
        out += QString::fromUcs4(&c, 1);
    }
    return out + QChar(0x2026);
}

QString padded(const QString &text, int columns, bool right)
{
    const QString fill(std::max(0, columns - columnsOf(text)), QLatin1Char(' '));
    return right ? fill + text : text + fill;
}

// "line-2" before "line-10": digits compare as numbers.
bool nameBefore(const QString &a, const QString &b)
{
    int i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].isDigit() && b[j].isDigit()) {
            int ie = i, je = j;
            while (ie < a.size() && a[ie].isDigit())
                ++ie;
            while (je < b.size() && b[je].isDigit())
                ++je;
            // Without leading zeros, the longer run of digits is the larger number.
            QStringRef da = a.midRef(i, ie - i), db = b.midRef(j, je - j);
            while (da.size() > 1 && da.at(0) == QLatin1Char('0'))
                da = da.mid(1);
            while (db.size() > 1 && db.at(0) == QLatin1Char('0'))
                db = db.mid(1);
            if (da.size() != db.size())
                return da.size() < db.size();
            const int c = da.compare(db);
            if (c != 0)
                return c < 0;
            i = ie;
            j = je;
            continue;
        }
        if (a[i] != b[j])
            return a[i] < b[j];
        ++i;
        ++j;
    }
    if ((a.size() - i) != (b.size() - j))
        return a.size() - i < b.size() - j;
    return a < b; // "a01" and "a1": still one order
}

QString silence(qint64 seconds)
{
    if (seconds < 120)
        return QStringLiteral("silent %1 s").arg(seconds);
    if (seconds < 120 * 60)
        return QStringLiteral("silent %1 min").arg(seconds / 60);
    return QStringLiteral("silent %1 h").arg(seconds / 3600);
}

} // namespace

void PlantTable::take(const QString &topic, const QByteArray &payload, const QDateTime &received, bool retained)
{
    const QStringList levels = topic.split(QLatin1Char('/'));
    if (levels.size() < 3 || levels[0] != QLatin1String("gluebox") || levels[1].isEmpty())
        return;
    const QString leaf = levels.mid(2).join(QLatin1Char('/'));

    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(payload, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return;
    const QJsonObject o = doc.object();

    // Everything is read first; only a message that reads whole changes the row.
    enum class Kind { Status, Product, Counters, Alarm, Other } kind = Kind::Other;
    QString state, since;
    int camera = 0;
    QString verdict;
    QMap<int, Counts> cameras;
    qint64 plcTotal = -1;
    int alarmCode = 0;
    QString alarmText, alarmRaised;
    bool acknowledged = false;

    if (leaf == QLatin1String("status")) {
        kind = Kind::Status;
        state = o.value(QStringLiteral("state")).toString();
        if (state != QLatin1String("online") && state != QLatin1String("offline"))
            return;
        since = o.value(QStringLiteral("since")).toString();
    } else if (leaf.startsWith(QLatin1String("product/"))) {
        kind = Kind::Product;
        bool number = false;
        camera = leaf.mid(8).toInt(&number);
        if (!number || camera < 1 || camera > kMaxCamera || leaf.mid(8) != QString::number(camera))
            return;
        const QJsonValue v = o.value(QStringLiteral("verdict"));
        verdict = v.toString();
        if (!v.isString()
            || (verdict != QLatin1String("OK") && verdict != QLatin1String("NG") && verdict != QLatin1String("none")))
            return;
    } else if (leaf == QLatin1String("counters")) {
        kind = Kind::Counters;
        const QJsonValue list = o.value(QStringLiteral("cameras"));
        if (!list.isArray())
            return;
        for (const QJsonValue &entry : list.toArray()) {
            const QJsonObject c = entry.toObject();
            qint64 number = 0;
            Counts counts;
            if (!entry.isObject() || !countOf(c.value(QStringLiteral("camera")), &number) || number < 1
                || number > kMaxCamera || !countOf(c.value(QStringLiteral("checked")), &counts.checked)
                || !countOf(c.value(QStringLiteral("ok")), &counts.ok)
                || !countOf(c.value(QStringLiteral("ng")), &counts.ng))
                return;
            cameras.insert(static_cast<int>(number), counts);
        }
        const QJsonValue total = o.value(QStringLiteral("plc_total"));
        if (!total.isNull() && !total.isUndefined() && !countOf(total, &plcTotal))
            return;
    } else if (leaf == QLatin1String("alarm")) {
        kind = Kind::Alarm;
        const QJsonValue code = o.value(QStringLiteral("code")), text = o.value(QStringLiteral("text"));
        const QJsonValue ack = o.value(QStringLiteral("acknowledged"));
        qint64 number = 0;
        if (!countOf(code, &number) || number > 1000000 || !text.isString()
            || !(ack.isNull() || ack.isUndefined() || ack.isString()))
            return;
        alarmCode = static_cast<int>(number);
        alarmText = text.toString();
        alarmRaised = o.value(QStringLiteral("raised")).toString();
        acknowledged = ack.isString();
    } else if (leaf == QLatin1String("shift") || leaf == QLatin1String("ng_image") || leaf == QLatin1String("line")) {
        kind = Kind::Other;
    } else {
        return;
    }

    Station &s = m_stations[levels[1]];
    if (!s.firstHeard.isValid())
        s.firstHeard = received;
    if (!retained)
        s.lastLive = received;

    if (kind == Kind::Status) {
        s.offline = state == QLatin1String("offline");
        if (!s.offline && !since.isEmpty()) {
            if (!s.since.isEmpty() && since != s.since) {
                s.seq = 0;
                s.seen.clear();
            }
            s.since = since;
        }
        return;
    }

    const QJsonValue seq = o.value(QStringLiteral("seq"));
    if (seq.isDouble() && std::isfinite(seq.toDouble())) {
        if (seq.toDouble() <= s.seq)
            return;
        s.seq = seq.toDouble();
    }

    switch (kind) {
    case Kind::Product:
        if (!s.haveCounters) {
            Counts &c = s.seen[camera];
            ++c.checked;
            if (verdict == QLatin1String("OK"))
                ++c.ok;
            else if (verdict == QLatin1String("NG"))
                ++c.ng;
        }
        break;
    case Kind::Counters:
        s.haveCounters = true;
        s.cameras = cameras;
        s.plcTotal = plcTotal;
        s.seen.clear();
        break;
    case Kind::Alarm:
        // The acknowledgement of an older alarm leaves a newer one standing.
        if (acknowledged && s.haveAlarm && !s.alarmAcknowledged
            && (s.alarmCode != alarmCode || s.alarmRaised != alarmRaised))
            break;
        s.haveAlarm = true;
        s.alarmCode = alarmCode;
        s.alarmText = alarmText;
        s.alarmRaised = alarmRaised;
        s.alarmAcknowledged = acknowledged;
        break;
    default:
        break;
    }
}

QString PlantTable::render(const QDateTime &now) const
{
    QStringList names = m_stations.keys();
    std::sort(names.begin(), names.end(), nameBefore);

    const QStringList header{QStringLiteral("station"), QStringLiteral("state"), QStringLiteral("products"),
                             QStringLiteral("OK/NG per camera"), QStringLiteral("NG %"),
                             QStringLiteral("last alarm"), QStringLiteral("last msg")};
    const bool right[] = {false, false, true, false, true, false, false};
    QVector<QStringList> rows{header};
    int online = 0, silent = 0;
    for (const QString &name : names) {
        const Station &s = m_stations[name];
        QString state = QStringLiteral("offline");
        if (!s.offline) {
            ++online;
            const QDateTime heard = s.lastLive.isValid() ? s.lastLive : s.firstHeard;
            const qint64 quiet = heard.secsTo(now);
            state = QStringLiteral("online");
            if (quiet > kSilentSeconds) {
                ++silent;
                state = silence(quiet);
            }
        }

        const QMap<int, Counts> &cameras = s.haveCounters ? s.cameras : s.seen;
        Counts sum;
        QStringList perCamera;
        for (auto it = cameras.cbegin(); it != cameras.cend(); ++it) {
            sum.checked += it->checked;
            sum.ng += it->ng;
            perCamera << QStringLiteral("%1: %2/%3").arg(it.key()).arg(it->ok).arg(it->ng);
        }
        QString products = QStringLiteral("-");
        if (s.haveCounters && s.plcTotal >= 0)
            products = QString::number(s.plcTotal);
        else if (s.haveCounters || !s.seen.isEmpty())
            products = QString::number(sum.checked);
        const QString rate = sum.checked > 0
                                 ? QString::number(100.0 * double(sum.ng) / double(sum.checked), 'f', 1)
                                 : QStringLiteral("-");

        QString alarm = QStringLiteral("-");
        if (s.haveAlarm) {
            alarm = QStringLiteral("%1 %2").arg(s.alarmCode).arg(cut(printable(s.alarmText), kAlarmWidth));
            if (s.alarmAcknowledged)
                alarm += QStringLiteral(" (ack)");
        }
        const QString last = s.lastLive.isValid() ? s.lastLive.toString(QStringLiteral("hh:mm:ss"))
                                                  : QStringLiteral("-");
        rows << QStringList{printable(name), state, products,
                            perCamera.isEmpty() ? QStringLiteral("-") : perCamera.join(QStringLiteral("  ")),
                            rate, alarm, last};
    }

    QVector<int> widths(header.size(), 0);
    for (const QStringList &row : rows)
        for (int c = 0; c < row.size(); ++c)
            widths[c] = std::max(widths[c], columnsOf(row[c]));
    QString out;
    for (const QStringList &row : rows) {
        QString line;
        for (int c = 0; c < row.size(); ++c) {
            if (c > 0)
                line += QStringLiteral("  ");
            line += padded(row[c], widths[c], right[c]);
        }
        while (line.endsWith(QLatin1Char(' ')))
            line.chop(1);
        out += line + QLatin1Char('\n');
    }
    const int stations = names.size();
    out += QStringLiteral("%1 station%2: %3 online").arg(stations).arg(stations == 1 ? QString() : QStringLiteral("s")).arg(online);
    if (silent > 0)
        out += QStringLiteral(" (%1 silent)").arg(silent);
    out += QStringLiteral(", %1 offline\n").arg(stations - online);
    return out;
}
