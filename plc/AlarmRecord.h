#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

// One PLC alarm as the history shows it.
struct AlarmRecord
{
    QDateTime startTime;
    QDateTime handleTime; // invalid until the alarm is handled
    QString message;
    int code = 0;
};
