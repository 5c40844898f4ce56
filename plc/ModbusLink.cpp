#include "ModbusLink.h"

#include "StationPaths.h"

#include <QMutexLocker>

#include <cerrno>
#include <cstdio>

ModbusLink *g_modbus = nullptr;

namespace {

// libmodbus puts the address into 16 bits of the request; anything outside would
// silently reach a different coil or register of the PLC.
bool validRange(int addr, int count)
{
    return addr >= 0 && count > 0 && addr <= 0xFFFF && count <= 0x10000 - addr;
}

} // namespace

bool ModbusLink::openLink()
{
    return openLink(StationPaths::plcPort());
}

bool ModbusLink::openLink(const QString &device)
{
    QMutexLocker lock(&m_mutex);
    if (m_connected)
        return true;
    return openLocked(device);
}

bool ModbusLink::reopen()
{
    QMutexLocker lock(&m_mutex);
    m_connected = false;
    m_ctx.reset();
    if (m_device.isEmpty()) {
        m_error = QStringLiteral("never opened");
        return false;
    }
    return openLocked(m_device);
}

void ModbusLink::closeLink()
{
    QMutexLocker lock(&m_mutex);
    m_connected = false;
    m_ctx.reset();
}

QString ModbusLink::device() const
{
    QMutexLocker lock(&m_mutex);
    return m_device;
}

QString ModbusLink::openError() const
{
    QMutexLocker lock(&m_mutex);
    return m_error;
}

bool ModbusLink::openLocked(const QString &device)
{
    m_device = device;
    m_error.clear();
    m_ctx.reset(modbus_new_rtu(device.toLocal8Bit().constData(), kBaud, 'N', 8, 1));
    if (!m_ctx) {
        m_error = QString::fromLocal8Bit(modbus_strerror(errno));
        return false;
    }
    modbus_set_debug(m_ctx.get(), 0);
    modbus_set_response_timeout(m_ctx.get(), kResponseTimeoutMs / 1000,
                                (kResponseTimeoutMs % 1000) * 1000);
    if (modbus_connect(m_ctx.get()) == -1) {
        m_error = QString::fromLocal8Bit(modbus_strerror(errno));
        m_ctx.reset();
        return false;
    }
    modbus_set_slave(m_ctx.get(), kSlave);
    m_connected = true;
    return true;
}

bool ModbusLink::isExceptionReply(int err)
{
    return (err >= EMBXILFUN && err <= EMBXGTAR) || err == EMBUNKEXC;
}

bool ModbusLink::isNoAnswer(int err)
{
    switch (err) {
    case EMBBADCRC:   // something came back, if garbled: the line is there
    case EMBBADDATA:
    case EMBBADEXC:
    case EMBMDATA:
    case EMBBADSLAVE:
    case EINVAL:      // refused before it reached the line
        return false;
    default:
        return !isExceptionReply(err);
    }
}

// The rules every operation shares: nothing while unconnected, -1 for a request the PLC
// could not take, one libmodbus call at a time on the line.
template <typename Call>
int ModbusLink::guarded(int addr, int count, bool haveBuffer, Call call)
{
    if (!m_connected)
        return 0;
    if (!validRange(addr, count) || !haveBuffer) {
        errno = EINVAL;
        return -1;
    }
    QMutexLocker lock(&m_mutex);
    if (!m_connected || !m_ctx)   // closed while this caller waited for the line
        return 0;
    const int result = call(m_ctx.get());
    const int err = errno;
    lock.unlock();
    errno = err;
    return result;
}

int ModbusLink::readBits(int addr, int count, uint8_t *dest)
{
    return guarded(addr, count, dest != nullptr,
                   [&](modbus_t *ctx) { return modbus_read_bits(ctx, addr, count, dest); });
}

int ModbusLink::readRegisters(int addr, int count, uint16_t *dest)
{
    return guarded(addr, count, dest != nullptr,
                   [&](modbus_t *ctx) { return modbus_read_registers(ctx, addr, count, dest); });
}

int ModbusLink::writeBit(int addr, int value)
{
    return guarded(addr, 1, true,
                   [&](modbus_t *ctx) { return modbus_write_bit(ctx, addr, value != 0 ? 1 : 0); });
}

int ModbusLink::writeRegisters(int addr, int count, const uint16_t *src)
{
    return guarded(addr, count, src != nullptr,
                   [&](modbus_t *ctx) { return modbus_write_registers(ctx, addr, count, src); });
}

const char *ModbusLink::connectionMessage(bool connected)
{
    return connected ? "Connected to dev!\n"
                     : "\nSorry,fail to connect ttyS0,please check your device's state.\n";
}

void ModbusLink::printConnectionMessage() const
{
    std::fputs(connectionMessage(m_connected), stdout);
    // The station's text names ttyS0 whatever the port; this line names the real one.
    if (!m_connected) {
        QMutexLocker lock(&m_mutex);
        std::printf("PLC port %s could not be opened: %s\n",
                    m_device.isEmpty() ? "(none)" : qPrintable(m_device),
                    m_error.isEmpty() ? "not tried" : qPrintable(m_error));
    }
    std::fflush(stdout);
}
