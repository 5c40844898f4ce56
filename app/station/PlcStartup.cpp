#include "PlcStartup.h"

#include "ModbusLink.h"

int sendPlcParams(ModbusLink &link, const QList<PlcParam> &rows)
{
    int taken = 0;
    for (const PlcParam &row : rows)
        if (PlcParams::isUsed(row.address) && PlcParams::writeValue(link, row.address, row.value))
            ++taken;
    return taken;
}
