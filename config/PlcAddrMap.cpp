#include "PlcAddrMap.h"

#include "ConfLineReader.h"
#include "StationPaths.h"

#include <QFile>

#include <cstdio>

PlcAddrMap g_plc_addr;

int PlcAddrMap::kick(int position) const
{
    switch (position) {
    case 0: return KICK1;
    case 1: return KICK2;
    case 2: return KICK3;
    case 3: return KICK4;
    default: return 0;
    }
}

bool readPlcAddrMap(PlcAddrMap &map)
{
    QFile file(StationPaths::modbusFile());
    if (!file.open(QIODevice::ReadOnly)) {
        std::printf("Error: Open config file %s\n", qPrintable(StationPaths::modbusFile()));
        std::fflush(stdout);
        return false;
    }
    const struct {
        const char *key;
        int PlcAddrMap::*field;
    } keys[] = {
        {"KICK1", &PlcAddrMap::KICK1},       {"KICK2", &PlcAddrMap::KICK2},
        {"KICK3", &PlcAddrMap::KICK3},       {"KICK4", &PlcAddrMap::KICK4},
        {"QUANTITY", &PlcAddrMap::QUANTITY}, {"SHIFT", &PlcAddrMap::SHIFT},
        {"WORK", &PlcAddrMap::WORK},         {"NO_KICK", &PlcAddrMap::NO_KICK},
        {"DEBUG", &PlcAddrMap::DEBUG},       {"RESET", &PlcAddrMap::RESET},
        {"ALARM", &PlcAddrMap::ALARM},
    };
    ConfLineReader reader(file);
    QByteArray line, key, value;
    while (reader.nextLine(line)) {
        ConfLineReader::splitKeyValue(line, key, value);
        for (const auto &k : keys) {
            if (key == k.key) {
                map.*(k.field) = ConfLineReader::leadingInt(value);
                break;
            }
        }
    }
    return true;
}
