#include "PlcState.h"

bool g_plc_setup_open = false;
QStringList g_alarm_texts;
QList<AlarmRecord> g_alarm_history;
int g_last_alarm_code = 0;

QStringList PlcState::defaultAlarmTexts()
{
    return {
        QStringLiteral("无报警"),
        QStringLiteral("1#相机丢结果"),
        QStringLiteral("2#相机丢结果"),
        QStringLiteral("1#相机有剔除"),
        QStringLiteral("2#相机有剔除"),
        QStringLiteral("1#相机通讯故障"),
        QStringLiteral("2#相机通讯故障"),
    };
}
