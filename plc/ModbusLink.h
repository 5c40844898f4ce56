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
// the PLC doesn't answer. A failed operation leaves errno as libmodbus set it, so that a
// caller can tell a PLC that answered with an exception from one that did not answer.
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
    // A missing or busy port leaves the link unconnected: every operation then returns 0
    // without touching the line, until an openLink or reopen succeeds.
    bool openLink();
    bool openLink(const QString &device);
    // Closes the line and opens the same device again: a PLC that restarted, a USB
    // adapter plugged in again, or a pseudo-terminal made anew under the same name.
    bool reopen();
    // Operations return 0 from here on.
    void closeLink();

    bool connected() const { return m_connected; }
    QString device() const;
    // Why the last openLink or reopen failed; empty after a success.
    QString openError() const;

    // What errno says after an operation returned -1: the PLC answered with a Modbus
    // exception (it is there, it refused the request), or nothing came back at all
    // (time-out, a port that went away). A garbled answer is neither.
    static bool isExceptionReply(int err);
    static bool isNoAnswer(int err);

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

    bool openLocked(const QString &device);   // caller holds m_mutex

    std::atomic<bool> m_connected{false};
    QString m_device;  // guarded by m_mutex
    QString m_error;   // guarded by m_mutex: why the last open failed
    // Serialises every libmodbus call (a request and its answer share the one line) and
    // every open and close of the context.
    mutable QMutex m_mutex;
    ModbusContext m_ctx;
};

// The process-wide link, created by the main window's start-up; null before that.
extern ModbusLink *g_modbus;
