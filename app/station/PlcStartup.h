#pragma once

#include "PlcParam.h"

#include <QList>

class ModbusLink;

// Start-up's writes of plc.txt to the PLC: every row with a used address, a register pair
// (low word first) from 40000 on, else a coil. Returns the rows the PLC took.
int sendPlcParams(ModbusLink &link, const QList<PlcParam> &rows);
