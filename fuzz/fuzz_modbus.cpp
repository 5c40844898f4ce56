// modbus.txt: the map read from any file, written as KEY=address lines in any order,
// reads back as the same map.
#include "FuzzSupport.h"

#include "PlcAddrMap.h"
#include "StationPaths.h"

#include <QList>

#include <algorithm>
#include <cstring>

namespace {

QList<QByteArray> lines(const PlcAddrMap &m)
{
    return {"KICK1=" + QByteArray::number(m.KICK1),     "KICK2=" + QByteArray::number(m.KICK2),
            "KICK3=" + QByteArray::number(m.KICK3),     "KICK4=" + QByteArray::number(m.KICK4),
            "QUANTITY=" + QByteArray::number(m.QUANTITY), "SHIFT=" + QByteArray::number(m.SHIFT),
            "WORK=" + QByteArray::number(m.WORK),       "NO_KICK=" + QByteArray::number(m.NO_KICK),
            "DEBUG=" + QByteArray::number(m.DEBUG),     "RESET=" + QByteArray::number(m.RESET),
            "ALARM=" + QByteArray::number(m.ALARM)};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Fuzz::enterStation();
    Fuzz::write(StationPaths::modbusFile(), data, size);
    PlcAddrMap first;
    FUZZ_CHECK(readPlcAddrMap(first));

    QList<QByteArray> text = lines(first);
    std::reverse(text.begin(), text.end());
    Fuzz::write(StationPaths::modbusFile(), text.join('\n') + '\n');
    PlcAddrMap second;
    FUZZ_CHECK(readPlcAddrMap(second));
    FUZZ_CHECK(lines(second) == lines(first));
    return 0;
}
