#include "PlcParam.h"

#include "ConfLineReader.h"
#include "ModbusLink.h"
#include "SettingsFile.h"
#include "StationPaths.h"
#include "SysConf.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QTextCodec>

#include <cstdint>
#include <cstdio>

namespace {

QList<PlcParam> parseDevice(QIODevice &device)
{
    QList<PlcParam> list;
    ConfLineReader reader(device, PlcParams::kMaxLineLength);
    QByteArray line;
    while (reader.nextLine(line)) {
        const std::vector<std::string> pieces = splitString(line.toStdString(), "|");
        if (pieces.size() != 4)
            continue;
        PlcParam p;
        p.name = QByteArray::fromStdString(pieces[0]);
        p.address = ConfLineReader::leadingInt(QByteArray::fromStdString(pieces[1]));
        p.value = ConfLineReader::leadingInt(QByteArray::fromStdString(pieces[2]));
        p.remark = QByteArray::fromStdString(pieces[3]);
        list.append(p);
    }
    return list;
}

QTextCodec *gbkCodec()
{
    static QTextCodec *const codec = QTextCodec::codecForName("GBK");
    return codec;
}

} // namespace

bool readPlcParams(QList<PlcParam> &list, SettingsRead *found)
{
    SettingsRead ignored;
    SettingsRead &result = found ? *found : ignored;
    result = SettingsRead();
    list.clear();
    QFile file(StationPaths::plcParamFile());
    if (!file.open(QIODevice::ReadOnly)) {
        std::printf("Error: Open production file %s\n", qPrintable(StationPaths::plcParamFile()));
        std::fflush(stdout);
        result.state = SettingsRead::Missing;
        return false;
    }
    const QByteArray bytes = file.readAll();
    list = PlcParams::parse(bytes);
    if (list.isEmpty()) {
        const QString name = QFileInfo(StationPaths::plcParamFile()).fileName();
        const bool blank = SettingsFile::blank(bytes);
        result.state = blank ? SettingsRead::Empty : SettingsRead::Damaged;
        result.detail = QStringLiteral("PLC parameter file %1 %2: no parameter is written to the PLC.")
                            .arg(name, blank ? QStringLiteral("is empty") : QStringLiteral("has no readable row"));
    }
    return true;
}

bool writePlcParams(const QList<PlcParam> &list)
{
    QByteArray text;
    for (const PlcParam &p : list)
        text += PlcParams::line(p) + '\n';
    return SettingsFile::writeWhole(StationPaths::plcParamFile(), text, true);
}

QList<PlcParam> PlcParams::parse(const QByteArray &text)
{
    QByteArray bytes = text;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    return parseDevice(buffer);
}

QByteArray PlcParams::line(const PlcParam &param)
{
    return param.name + '|' + QByteArray::number(param.address) + '|'
           + QByteArray::number(param.value) + '|' + param.remark;
}

QString PlcParams::text(const QByteArray &gbk)
{
    QTextCodec *codec = gbkCodec();
    return codec ? codec->toUnicode(gbk) : QString::fromLocal8Bit(gbk);
}

QByteArray PlcParams::gbk(const QString &text)
{
    QTextCodec *codec = gbkCodec();
    return codec ? codec->fromUnicode(text) : text.toLocal8Bit();
}

int PlcParams::storedValue(int address, int value)
{
    return isRegisterPair(address) ? value : (value != 0 ? 1 : 0);
}

bool PlcParams::writeValue(ModbusLink &link, int address, int value)
{
    if (!isUsed(address))
        return false;
    if (isRegisterPair(address)) {
        const uint32_t bits = static_cast<uint32_t>(value);
        const uint16_t words[2] = {static_cast<uint16_t>(bits & 0xFFFF), static_cast<uint16_t>(bits >> 16)};
        return link.writeRegisters(address, 2, words) == 2;
    }
    return link.writeBit(address, value != 0 ? 1 : 0) == 1;
}

bool PlcParams::readValue(ModbusLink &link, int address, int &value)
{
    if (!isUsed(address))
        return false;
    if (isRegisterPair(address)) {
        uint16_t words[2] = {0, 0};
        if (link.readRegisters(address, 2, words) != 2)
            return false;
        value = static_cast<int32_t>(static_cast<uint32_t>(words[0]) | (static_cast<uint32_t>(words[1]) << 16));
        return true;
    }
    uint8_t bit = 0;
    if (link.readBits(address, 1, &bit) != 1)
        return false;
    value = bit ? 1 : 0;
    return true;
}
