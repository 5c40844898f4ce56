#pragma once

#include "AlarmRecord.h"

#include <QList>
#include <QStringList>

// Set while the PLC parameter dialog is open: the status timer and the shift change
// leave the PLC alone meanwhile. GUI thread only.
extern bool g_plc_setup_open;

// Alarm texts by PLC alarm code (0 = no alarm), the alarm history and the last code seen.
extern QStringList g_alarm_texts;
extern QList<AlarmRecord> g_alarm_history;
extern int g_last_alarm_code;

namespace PlcState {
// The texts for codes 0..6, in code order.
QStringList defaultAlarmTexts();
}
