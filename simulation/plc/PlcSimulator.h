#pragma once

#include "ModbusContext.h"
#include "PlcAddrMap.h"
#include "PseudoTerminal.h"

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVector>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

// The packing machine's PLC as the station sees it: a Modbus RTU slave (address 1) with
// coils and holding registers at the addresses of modbus.txt and plc.txt.
//
// While the WORK coil is 1 the QUANTITY pair counts boxes at boxesPerSecond and each
// KICKn pair grows by its reject share of them (not while NO_KICK is 1). A SHIFT write of
// 1 starts a new shift: QUANTITY and the kick pairs go back to 0 and the coil is cleared.
// RESET pulses and every other write are logged. Alarm codes are raised by command; the
// station clears them by writing 0. It can be told to stop answering.
//
// Answers come when a real serial line would deliver them (Options::baud, scanMs): the
// request's transmission, the PLC's scan, then the reply byte by byte at the line's pace.
//
// Requests are served on a thread of its own (start/stop); every other member may be
// called from any thread.
class PlcSimulator
{
public:
    static constexpr int kSlave = 1;
    static constexpr int kPositions = 4;
    // Coils below this address, register pairs from it on (the plc.txt convention).
    static constexpr int kFirstRegisterAddress = 40000;
    static constexpr double kMaxBoxesPerSecond = 1e6;
    static constexpr int kMinBaud = 300;
    static constexpr int kMaxBaud = 1000000;
    static constexpr int kMaxScanMs = 60000;

    struct Options
    {
        double boxesPerSecond = 5.0;
        std::array<double, kPositions> rejectShare{{0.02, 0.02, 0.02, 0.02}};
        // Answer at every address instead of an exception for unconfigured ones.
        bool anyAddress = false;
        // The line's timing. Instant by default (baud 0: no delay at all, the scan neither),
        // which the in-process tests rely on for their speed; plcsim runs at 9600 baud.
        int baud = 0;      // 0, or kMinBaud to kMaxBaud
        int scanMs = 10;   // the PLC's cycle between a request's last byte and its reply
    };

    // One row of plc.txt as far as the PLC cares.
    struct Parameter
    {
        QString name;
        int address = 0;
        int value = 0;
    };

    using Logger = std::function<void(const QString &line)>;

    PlcSimulator(const PlcAddrMap &addr, const QVector<Parameter> &params, const Options &options);
    ~PlcSimulator();
    PlcSimulator(const PlcSimulator &) = delete;
    PlcSimulator &operator=(const PlcSimulator &) = delete;

    // Rows of a plc.txt ("name|address|value|remark"); names in UTF-8 or GBK.
    static QVector<Parameter> readParameters(const QString &path);

    // One line per address of modbus.txt or plc.txt that no Modbus request can reach
    // (coils 1..65535, register pairs up to 65534); empty when all are usable. The
    // simulator leaves such addresses unserved, and plcsim refuses to start with them.
    static QStringList addressProblems(const PlcAddrMap &addr, const QVector<Parameter> &params);

    // Serve a new pseudo-terminal pair (devicePath() is its slave side) or an existing
    // serial device. Either must come before start(). A real device's line carries the
    // bytes at its own pace, so there only the scan is added.
    bool openPseudoTerminal(QString *error = nullptr);
    bool openDevice(const QString &path, QString *error = nullptr);
    QString devicePath() const { return m_devicePath; }

    bool start();
    // Returns within about one indication time-out (50 ms).
    void stop();

    // Receives every log line (writes, pulses, refused requests) on the serving thread,
    // and the changes of setAnswering on its caller's. Set it before start().
    void setLogger(Logger logger);

    // One command line as typed by hand; returns the reply ("" for an empty line).
    QString execute(const QString &command);
    static QString commandHelp();
    // "9600 baud, 10 ms scan" or "instant, no delay".
    static QString timingText(const Options &options);
    // A readable summary of the served addresses.
    QString addressSummary() const;

    void setAlarm(int code);
    int alarm() const;
    void setAnswering(bool answering);
    bool answering() const;
    void setBoxesPerSecond(double rate);
    void setRejectShare(int position, double share);

    bool coil(int addr) const;
    void setCoil(int addr, bool value);
    uint16_t reg(int addr) const;
    uint32_t pair(int addr) const;          // low word at addr, high word at addr + 1
    void setPair(int addr, uint32_t value);

    // Requests that reached this slave, answered or not.
    int requestCount() const { return m_requests.load(); }

private:
    bool canServe(QString *error) const;
    void serve();
    // The reply to a request, empty when there is none.
    QByteArray handle(const uint8_t *req, int length);
    // What libmodbus would have written to the line, caught in m_replyPipe.
    template <typename Reply>
    QByteArray captured(Reply reply);
    // Writes the reply when a real line would have delivered it; nothing once stopping.
    void deliver(const QByteArray &reply, int requestBytes, std::chrono::steady_clock::time_point received);
    bool waitUntil(std::chrono::steady_clock::time_point due) const;
    void advanceProduction();
    void afterCoilWrite(int addr, bool before, bool after);
    void afterRegisterWrite(int first, int count, const QVector<uint16_t> &before);
    bool served(bool coils, int addr, int count) const;
    QString nameOf(bool coil, int addr) const;
    void log(const QString &line);
    // Log lines of the request being served, handed to the logger after m_mutex is
    // released so that a slow reader of the log can't hold up the PLC.
    void note(const QString &line);   // caller holds m_mutex
    void flushLog();
    // Callers hold m_mutex.
    uint32_t pairLocked(int addr) const;
    void setPairLocked(int addr, uint32_t value);

    const PlcAddrMap m_addr;
    QSet<int> m_coils;
    QSet<int> m_registers;
    QHash<int, QString> m_coilNames;
    QHash<int, QString> m_pairNames;   // by the pair's first address

    PseudoTerminal m_pty;
    ModbusContext m_ctx;
    QString m_devicePath;
    bool m_pacedHere = false;   // a pseudo-terminal: the simulator plays the line's pace
    int m_replyPipe[2] = {-1, -1};
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_requests{0};

    // Protects the PLC memory and the production state below.
    mutable std::mutex m_mutex;
    std::unique_ptr<modbus_mapping_t, void (*)(modbus_mapping_t *)> m_memory;
    Options m_options;
    bool m_answering = true;
    int m_ignored = 0;
    double m_boxFraction = 0;
    std::array<double, kPositions> m_kickFraction{};
    std::chrono::steady_clock::time_point m_lastTick;
    std::chrono::steady_clock::time_point m_resetSince;
    QStringList m_pendingLog;

    std::mutex m_logMutex;   // protects m_logger
    Logger m_logger;
};
