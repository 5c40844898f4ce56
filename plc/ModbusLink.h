#pragma once

#include "ModbusContext.h"

#include <QMutex>
#include <QString>

#include <atomic>
#include <cstdint>

// The station's one Modbus RTU link to the PLC (slave 1, 9600 8N1, 1 s response time-out).
//
// Results of the four operations: a positive count on success, -1 on a Modbus or line
// error (or an address outside 0..65535), 0 while the link is not connected; callers
// treat 0 and -1 alike. Addresses are passed to the PLC unchanged, 40000 and above
// included. A 32-bit PLC value is two holding registers, low 16 bits first.
//
// Any thread may call the operations; each blocks for up to the response time-out when
// the PLC doesn't answer.
class ModbusLink
{
public:
    static constexpr int kBaud = 9600;
    static constexpr int kSlave = 1;
    static constexpr int kResponseTimeoutMs = 1000;

    ModbusLink() = default;
    ModbusLink(const ModbusLink &) = delete;
    ModbusLink &operator=(const ModbusLink &) = delete;

    // Opens the serial line to the PLC, StationPaths::plcPort() unless device is given.
    // A missing or busy port leaves the link unconnected for good: every operation then
    // returns 0 without touching the line. Meant to be called once, before any operation.
    bool openLink();
    bool openLink(const QString &device);

    bool connected() const { return m_connected; }
    QString device() const { return m_device; }

    int readBits(int addr, int count, uint8_t *dest);            // one byte per coil, 0 or 1
    int readRegisters(int addr, int count, uint16_t *dest);
    int writeBit(int addr, int value);                            // any non-zero value writes 1
    int writeRegisters(int addr, int count, const uint16_t *src);

    // "Connected to dev!\n" or "\nSorry,fail to connect ttyS0,please check your device's state.\n",
    // what start-up prints after openLink.
    static const char *connectionMessage(bool connected);
    // The message above; on failure followed by a line naming the configured device and
    // why it could not be opened.
    void printConnectionMessage() const;

private:
    template <typename Call>
    int guarded(int addr, int count, bool haveBuffer, Call call);

    // Set before the first operation and never changed afterwards.
    std::atomic<bool> m_connected{false};
    QString m_device;
    QString m_error;   // why the last openLink failed
    // Serialises every libmodbus call: a request and its answer share the one line.
    QMutex m_mutex;
    ModbusContext m_ctx;
};

// The process-wide link, created by the main window's start-up; null before that.
extern ModbusLink *g_modbus;
