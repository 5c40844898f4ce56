#pragma once

#include "SettingsFile.h"

#include <QByteArray>
#include <QList>
#include <QString>

class ModbusLink;

// One PLC parameter, one "name|address|value|remark" line of "../conf/plc.txt". Name and
// remark are kept as the file's bytes (GBK, the target's local 8-bit encoding), so that
// what is read is written back unchanged.
struct PlcParam
{
    QByteArray name;
    int address = 0;     // <= 0 unused, below 40000 a coil, else a register pair
    QByteArray remark;
    int value = 0;       // the value last written
};

// Reads "../conf/plc.txt" into list (emptied first), in file order. Lines of at most
// 1023 characters, empty lines skipped, only lines of exactly four '|'-pieces taken.
// Unopenable file: prints "Error: Open production file ../conf/plc.txt" and returns false
// (found: Missing). A file without a single row: found says Empty, or Damaged when it has
// text but no readable row.
bool readPlcParams(QList<PlcParam> &list, SettingsRead *found = nullptr);

// Replaces "../conf/plc.txt" whole, one "%s|%d|%d|%s" line per parameter.
// False, and the file unchanged, when it could not be written completely.
bool writePlcParams(const QList<PlcParam> &list);

namespace PlcParams {
constexpr int kFirstRegisterAddress = 40000;
constexpr int kMaxLineLength = 1023;

inline bool isUsed(int address) { return address > 0; }
inline bool isRegisterPair(int address) { return address >= kFirstRegisterAddress; }

// The rows of plc.txt text, by the rules of readPlcParams.
QList<PlcParam> parse(const QByteArray &text);
// One file line without its line end.
QByteArray line(const PlcParam &param);

// Name and remark for the screen (GBK decoded).
QString text(const QByteArray &gbk);
QByteArray gbk(const QString &text);

// The value as the PLC holds it: 0 or 1 for a coil, the full value for a register pair.
int storedValue(int address, int value);

// Writes value to a used address: a register pair low word first, or the coil (value
// != 0). True only when the PLC took the whole write.
bool writeValue(ModbusLink &link, int address, int value);
// Reads a used address into value (the pair as a signed 32-bit number, a coil as 0 or
// 1). False, value untouched, when the PLC did not answer.
bool readValue(ModbusLink &link, int address, int &value);
} // namespace PlcParams
