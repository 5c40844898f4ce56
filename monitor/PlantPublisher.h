#pragma once

#include "MonitorConf.h"
#include "MqttClient.h"
#include "ProductReport.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QTimer>

#include <array>
#include <atomic>
#include <memory>

// What the station tells the plant's MQTT broker, as JSON under "gluebox/<station>/":
//   status            retained {"state":"online"|"offline",...}; "offline" is the will too
//   product/<camera>  every product's dots, verdict and times
//   counters          once a second: the window's counters, the PLC's totals, this link's
//   alarm             an alarm when raised and again when acknowledged
//   shift             each shift's statistics line as written to its file
//   ng_image          every NG image file the saving thread handled
//   line              the simulated line's account, when there is one
// Every message but status carries "seq", one count over all of them, so that a
// subscriber can tell a lost message (the link's "dropped" says how many) from a resent one.
//
// product() and imageSaved() may be called from any thread and only queue; the rest is
// for the thread the publisher lives on.
class PlantPublisher : public QObject
{
    Q_OBJECT
public:
    static constexpr int kPositions = 4;
    static constexpr int kCountersMs = 1000;

    PlantPublisher(const QString &host, int port, const MonitorConf &conf, QObject *parent = nullptr);
    // Says offline after what is queued is sent, waiting for it 2 s at most.
    ~PlantPublisher() override;

    void start();
    QString station() const { return m_station; }
    QString topic(const QString &leaf) const { return m_root + leaf; }
    MqttClient::Stats stats() const { return m_client->stats(); }
    // A position with a camera: counters name only those.
    void setPresent(int position) { if (position >= 0 && position < kPositions) m_present[position] = true; }

    void product(const ProductReport &report);
    void imageSaved(const QString &path, bool written);

    // The topic's payload of one product, as product() sends it but for "seq".
    static QJsonObject productJson(const ProductReport &report);
    static QString timeText(const QDateTime &time);

public slots:
    void plcTotal(int total);
    void kicks(int position, int kicks);
    void countersCleared();
    void alarmRaised(int code, const QString &text, const QString &raised);
    void alarmAcknowledged(int code, const QString &text, const QString &raised, const QString &acknowledged);
    void shiftRecorded(int position, const QString &line);
    // One object per position: {"camera":1,"products":...}.
    void lineAccount(const QJsonArray &positions);
    void publishCounters();

signals:
    // The link's troubles and their ends, queued from its thread (also on standard output).
    void trouble(const QString &text, bool failing);

private:
    void send(const QString &leaf, QJsonObject payload, bool retain = false);

    QString m_station;
    QString m_root; // "gluebox/<station>/"
    std::unique_ptr<MqttClient> m_client;
    QTimer m_countersTimer;
    std::atomic<quint64> m_seq{0};
    std::array<bool, kPositions> m_present{};
    struct Counts
    {
        std::atomic<quint64> checked{0}, ok{0}, ng{0};
    };
    Counts m_counts[kPositions];
    int m_plcTotal = -1;                     // -1: not read yet
    std::array<int, kPositions> m_kicks{{-1, -1, -1, -1}};
};
