#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QMap>
#include <QString>

// What the plant's broker says about every station, one row each, as text.
//
// take() folds one message from "gluebox/<station>/..." into the station's row; anything
// else, and whatever does not read as the station's JSON, is left out: the broker is open
// to any client, and a wrong message must not take the view down. Counters come from the
// latest "counters"; until the first one arrives, the "product/<camera>" messages are
// counted instead. A message whose "seq" is not above the highest one taken from that
// station is a resend after a broken connection and changes nothing; a new "since" in an
// online status is a restarted station, whose count starts again.
class PlantTable
{
public:
    static constexpr int kSilentSeconds = 5;  // an online station quieter than this is silent
    static constexpr int kMaxCamera = 16;     // camera numbers beyond are not a station's
    static constexpr int kAlarmWidth = 40;    // characters of an alarm's text shown

    // `retained`: kept by the broker from before this view subscribed, so not a sign of
    // life and not the station's last message.
    void take(const QString &topic, const QByteArray &payload, const QDateTime &received,
              bool retained = false);
    QString render(const QDateTime &now) const;
    int stationCount() const { return m_stations.size(); }

private:
    struct Counts
    {
        qint64 checked = 0, ok = 0, ng = 0;
    };
    struct Station
    {
        bool offline = false;
        QString since;               // the online status's start time: changes on a restart
        double seq = 0;              // highest "seq" taken; 0 none yet
        QDateTime firstHeard;        // the silence is counted from here until a live message
        QDateTime lastLive;          // the last message not retained; invalid: none yet
        bool haveCounters = false;
        QMap<int, Counts> cameras;   // from the latest counters
        qint64 plcTotal = -1;        // -1: not read by the station yet
        QMap<int, Counts> seen;      // from product messages, until counters arrive
        bool haveAlarm = false;
        int alarmCode = 0;
        QString alarmText;
        QString alarmRaised;
        bool alarmAcknowledged = false;
    };

    QMap<QString, Station> m_stations;
};
