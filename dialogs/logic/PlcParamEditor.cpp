#include "PlcParamEditor.h"

#include "ModbusLink.h"
#include "UserMessages.h"

namespace {
void tell(const QString &text)
{
    UserMessages::instance().information(QStringLiteral("提示"), text);
}
} // namespace

PlcParamEditor::PlcParamEditor(ModbusLink *link)
    : m_link(link)
{
}

void PlcParamEditor::load()
{
    readPlcParams(m_params);
}

QString PlcParamEditor::readFailedText()
{
    return QStringLiteral("读取失败");
}

QString PlcParamEditor::readText(int row)
{
    if (row < 0 || row >= m_params.size() || !PlcParams::isUsed(m_params[row].address))
        return QString();
    int value = 0;
    if (!m_link || !PlcParams::readValue(*m_link, m_params[row].address, value))
        return readFailedText();
    return QString::number(value);
}

QStringList PlcParamEditor::readAll()
{
    QStringList texts;
    bool failed = false;
    for (int row = 0; row < m_params.size(); ++row) {
        if (!PlcParams::isUsed(m_params[row].address))
            texts << QString();
        else if (failed)
            texts << readFailedText();
        else {
            texts << readText(row);
            failed = texts.last() == readFailedText();
        }
    }
    return texts;
}

bool PlcParamEditor::writeToPlc(int row, int value)
{
    return m_link && PlcParams::writeValue(*m_link, m_params[row].address, value);
}

void PlcParamEditor::write(int row, const QString &typed)
{
    if (typed.isEmpty() || row < 0 || row >= m_params.size())
        return;
    if (!PlcParams::isUsed(m_params[row].address)) {
        tell(QStringLiteral("写入失败，该参数没有PLC地址"));
        return;
    }
    if (!writeToPlc(row, typed.toInt())) {
        tell(QStringLiteral("写入失败，请检查PLC连接"));
        return;
    }
    tell(QStringLiteral("写入成功"));
}

void PlcParamEditor::writeAndSave(int row, const QString &typed)
{
    if (typed.isEmpty() || row < 0 || row >= m_params.size() || !PlcParams::isUsed(m_params[row].address))
        return;
    const int address = m_params[row].address;
    const int value = typed.toInt();
    if (!writeToPlc(row, value)) {
        tell(QStringLiteral("写入失败，请检查PLC连接，参数没有保存"));
        return;
    }
    for (PlcParam &p : m_params) {
        if (p.address == address) {
            p.value = PlcParams::storedValue(address, value);
            break;
        }
    }
    if (!writePlcParams(m_params)) {
        tell(QStringLiteral("写入成功，但保存失败，无法写入参数文件"));
        return;
    }
    tell(QStringLiteral("写入并且保存成功"));
}
