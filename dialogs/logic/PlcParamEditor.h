#pragma once

#include "PlcParam.h"

#include <QList>
#include <QString>
#include <QStringList>

class ModbusLink;

// The PLC parameter dialog's work on its own list of plc.txt rows: reading values from
// the PLC, writing them, and writing and saving them. Every write ends in a box that says
// whether the PLC (and the file) took it.
class PlcParamEditor
{
public:
    explicit PlcParamEditor(ModbusLink *link);

    // Reads plc.txt; a missing file leaves no rows.
    void load();
    const QList<PlcParam> &params() const { return m_params; }

    // Text for the "读数值" column: the value read, "读取失败" when the PLC did not
    // answer, a null string for a row without a PLC address.
    QString readText(int row);
    // readText of every row; after the first failure the rest are marked failed without
    // asking again, so that a silent PLC holds the screen up once per pass, not per row.
    QStringList readAll();

    // typed empty: nothing. Else writes its integer to the row's address.
    void write(int row, const QString &typed);
    // typed empty or no address: nothing. Else writes, and only when the PLC took it
    // stores the value in the first row of that address and rewrites plc.txt.
    void writeAndSave(int row, const QString &typed);

    static QString readFailedText();

private:
    bool writeToPlc(int row, int value);

    ModbusLink *m_link;
    QList<PlcParam> m_params;
};
