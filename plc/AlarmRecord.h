#pragma once

#include <QDateTime>
#include <QString>

// One PLC alarm as the history shows it. The times are kept as the texts the alarm table
// shows, so that what the operator sees is what was stamped.
struct AlarmRecord
{
    static constexpr const char *kTimeFormat = "yyyy-MM-dd hh:mm:ss";

    QString startTime;    // when the alarm was first seen
    QString handleTime;   // when it was acknowledged; empty until then
    QString message;
    int code = 0;

    static QString timeText(const QDateTime &time) { return time.toString(QLatin1String(kTimeFormat)); }
    bool handled() const { return !handleTime.isEmpty(); }
};
