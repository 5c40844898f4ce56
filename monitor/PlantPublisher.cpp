#include "PlantPublisher.h"

#include <QJsonDocument>

#include <cstdio>

namespace {
std::string compact(const QJsonObject &o)
{
    return QJsonDocument(o).toJson(QJsonDocument::Compact).toStdString();
}

QJsonValue orNull(int value)
{
    return value < 0 ? QJsonValue() : QJsonValue(value);
}
} // namespace

PlantPublisher::PlantPublisher(const QString &host, int port, const MonitorConf &conf, QObject *parent)
    : QObject(parent)
    , m_station(conf.name)
    , m_root(QStringLiteral("gluebox/%1/").arg(conf.name))
{
    MqttClient::Options o;
    o.host = host.toStdString();
    o.port = port;
    o.clientId = "gluebox-" + conf.name.toStdString();
    o.user = conf.user.toStdString();
    o.password = conf.password.toStdString();
    o.caFile = conf.caFile.toStdString();
    o.queueBound = static_cast<size_t>(conf.queue);
    o.statusTopic = topic(QStringLiteral("status")).toStdString();
    QJsonObject online{{"state", "online"}, {"station", m_station},
                       {"since", timeText(QDateTime::currentDateTime())}};
    o.onlinePayload = compact(online);
    o.offlinePayload = compact(QJsonObject{{"state", "offline"}, {"station", m_station}});
    m_client = std::make_unique<MqttClient>(std::move(o));
    m_client->setNote([this](const std::string &text, bool failing) {
        std::printf("%s\n", text.c_str());
        std::fflush(stdout);
        emit trouble(QString::fromStdString(text), failing);
    });
    m_countersTimer.setInterval(kCountersMs);
    connect(&m_countersTimer, &QTimer::timeout, this, &PlantPublisher::publishCounters);
}

PlantPublisher::~PlantPublisher()
{
    m_countersTimer.stop();
    m_client->stop(2000);
}

void PlantPublisher::start()
{
    m_client->start();
    m_countersTimer.start();
}

QString PlantPublisher::timeText(const QDateTime &time)
{
    return time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

void PlantPublisher::send(const QString &leaf, QJsonObject payload, bool retain)
{
    payload.insert(QStringLiteral("seq"), static_cast<double>(++m_seq));
    m_client->publish(topic(leaf).toStdString(), compact(payload), retain);
}

QJsonObject PlantPublisher::productJson(const ProductReport &r)
{
    QJsonArray dots;
    for (int d : r.dots)
        dots.append(d);
    QJsonObject o{{"camera", r.camera + 1},
                  {"product", static_cast<double>(r.product)},
                  {"dots", dots},
                  {"verdict", r.verdict == ProductReport::Verdict::Good  ? "OK"
                              : r.verdict == ProductReport::Verdict::Bad ? "NG"
                                                                          : "none"},
                  {"inspected", r.inspected},
                  {"inspect_ms", r.inspectMs},
                  {"time", timeText(r.time)}};
    if (!r.inspected)
        o.insert(QStringLiteral("why"), QString::fromStdString(r.why));
    return o;
}

void PlantPublisher::product(const ProductReport &r)
{
    if (r.camera >= 0 && r.camera < kPositions) {
        Counts &c = m_counts[r.camera];
        ++c.checked;
        if (r.verdict == ProductReport::Verdict::Good)
            ++c.ok;
        else if (r.verdict == ProductReport::Verdict::Bad)
            ++c.ng;
    }
    send(QStringLiteral("product/%1").arg(r.camera + 1), productJson(r));
}

void PlantPublisher::imageSaved(const QString &path, bool written)
{
    // "<root><day>/<camera>/ng/<image>/<stamp>_<image>.jpg", or ng_result; whole frames
    // (ALL) are samples, not NG images.
    const QStringList parts = path.split(QLatin1Char('/'));
    for (int i = 1; i < parts.size(); ++i) {
        if (parts[i] != QLatin1String("ng") && parts[i] != QLatin1String("ng_result"))
            continue;
        send(QStringLiteral("ng_image"), QJsonObject{{"camera", parts[i - 1].toInt()},
                                                     {"kind", parts[i]},
                                                     {"file", path},
                                                     {"written", written}});
        return;
    }
}

void PlantPublisher::plcTotal(int total)
{
    m_plcTotal = total;
}

void PlantPublisher::kicks(int position, int kicks)
{
    if (position >= 0 && position < kPositions)
        m_kicks[position] = kicks;
}

void PlantPublisher::countersCleared()
{
    for (Counts &c : m_counts)
        c.checked = c.ok = c.ng = 0;
    m_plcTotal = 0;
}

void PlantPublisher::alarmRaised(int code, const QString &text, const QString &raised)
{
    send(QStringLiteral("alarm"),
         QJsonObject{{"code", code}, {"text", text}, {"raised", raised}, {"acknowledged", QJsonValue()}});
}

void PlantPublisher::alarmAcknowledged(int code, const QString &text, const QString &raised,
                                       const QString &acknowledged)
{
    send(QStringLiteral("alarm"),
         QJsonObject{{"code", code}, {"text", text}, {"raised", raised}, {"acknowledged", acknowledged}});
}

void PlantPublisher::shiftRecorded(int position, const QString &line)
{
    send(QStringLiteral("shift"), QJsonObject{{"camera", position + 1}, {"line", line}});
}

void PlantPublisher::lineAccount(const QJsonArray &positions)
{
    send(QStringLiteral("line"), QJsonObject{{"positions", positions}});
}

void PlantPublisher::publishCounters()
{
    QJsonArray cameras;
    for (int p = 0; p < kPositions; ++p) {
        if (!m_present[p])
            continue;
        // product() counts a product as checked before its verdict: read in the other
        // order, OK plus NG never exceeds checked.
        const Counts &c = m_counts[p];
        const quint64 ok = c.ok, ng = c.ng, checked = c.checked;
        cameras.append(QJsonObject{{"camera", p + 1},
                                   {"checked", static_cast<double>(checked)},
                                   {"ok", static_cast<double>(ok)},
                                   {"ng", static_cast<double>(ng)},
                                   {"kicks", orNull(m_kicks[p])}});
    }
    const MqttClient::Stats s = m_client->stats();
    send(QStringLiteral("counters"),
         QJsonObject{{"time", timeText(QDateTime::currentDateTime())},
                     {"cameras", cameras},
                     {"plc_total", orNull(m_plcTotal)},
                     {"link", QJsonObject{{"sent", static_cast<double>(s.sent)},
                                          {"waiting", static_cast<double>(s.waiting)},
                                          {"dropped", static_cast<double>(s.dropped)}}}});
}
