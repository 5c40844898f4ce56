#include "PlcSimulator.h"

#include "ConfLineReader.h"
#include "SysConf.h"

#include <QFile>
#include <QStringList>
#include <QTextCodec>
#include <QTime>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kAddressSpace = 0x10000;
constexpr int kIndicationTimeoutMs = 50;
// A wait for a slow answer looks at m_stop this often.
constexpr auto kWaitSlice = std::chrono::milliseconds(10);

using Clock = std::chrono::steady_clock;

QString timestamp()
{
    return QTime::currentTime().toString(QStringLiteral("hh:mm:ss.zzz"));
}

// plc.txt is GBK on the target; a file edited here may well be UTF-8.
QString decodeName(const QByteArray &bytes)
{
    QTextCodec::ConverterState state;
    const QString utf8 = QTextCodec::codecForName("UTF-8")->toUnicode(bytes.constData(), bytes.size(), &state);
    if (state.invalidChars == 0)
        return utf8;
    if (QTextCodec *gbk = QTextCodec::codecForName("GBK"))
        return gbk->toUnicode(bytes);
    return QString::fromLatin1(bytes);
}

// The address fields of modbus.txt, and whether each names a register pair.
struct AddressField
{
    const char *key;
    int PlcAddrMap::*field;
    bool pair;
};
const AddressField kAddressFields[] = {
    {"KICK1", &PlcAddrMap::KICK1, true},     {"KICK2", &PlcAddrMap::KICK2, true},
    {"KICK3", &PlcAddrMap::KICK3, true},     {"KICK4", &PlcAddrMap::KICK4, true},
    {"QUANTITY", &PlcAddrMap::QUANTITY, true}, {"SHIFT", &PlcAddrMap::SHIFT, false},
    {"WORK", &PlcAddrMap::WORK, false},      {"NO_KICK", &PlcAddrMap::NO_KICK, false},
    {"DEBUG", &PlcAddrMap::DEBUG, false},    {"RESET", &PlcAddrMap::RESET, false},
    {"ALARM", &PlcAddrMap::ALARM, true},
};

// Written without a + 1 that would overflow at INT_MAX.
bool reachable(int addr, bool pair)
{
    return addr > 0 && addr <= (pair ? kAddressSpace - 2 : kAddressSpace - 1);
}

// The map with every unreachable address taken as unconfigured, so that no path of the
// simulator can index its memory with it.
PlcAddrMap reachableOnly(PlcAddrMap addr)
{
    for (const AddressField &f : kAddressFields) {
        if (!reachable(addr.*(f.field), f.pair))
            addr.*(f.field) = 0;
    }
    return addr;
}

bool parseInt(const QString &text, long long &value)
{
    bool ok = false;
    value = text.toLongLong(&ok);
    return ok;
}

} // namespace

PlcSimulator::PlcSimulator(const PlcAddrMap &addr, const QVector<Parameter> &params,
                           const Options &options)
    : m_addr(reachableOnly(addr))
    , m_memory(modbus_mapping_new(kAddressSpace, 0, kAddressSpace, 0), &modbus_mapping_free)
    , m_options(options)
    , m_lastTick(Clock::now())
{
    // Never full: one reply at a time, far below a pipe's capacity.
    if (::pipe2(m_replyPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        m_replyPipe[0] = m_replyPipe[1] = -1;
    if (m_options.baud > 0)
        m_options.baud = std::min(kMaxBaud, std::max(kMinBaud, m_options.baud));
    else
        m_options.baud = 0;
    m_options.scanMs = std::min(kMaxScanMs, std::max(0, m_options.scanMs));
    auto addCoil = [this](int a, const QString &name) {
        if (!reachable(a, false))
            return;
        m_coils.insert(a);
        if (!m_coilNames.contains(a))
            m_coilNames.insert(a, name);
    };
    auto addPair = [this](int a, const QString &name) {
        if (!reachable(a, true))
            return;
        m_registers.insert(a);
        m_registers.insert(a + 1);
        if (!m_pairNames.contains(a))
            m_pairNames.insert(a, name);
    };
    for (const AddressField &f : kAddressFields) {
        if (f.pair)
            addPair(m_addr.*(f.field), QString::fromLatin1(f.key));
        else
            addCoil(m_addr.*(f.field), QString::fromLatin1(f.key));
    }
    for (const Parameter &p : params) {
        if (p.address <= 0)
            continue;
        if (p.address < kFirstRegisterAddress) {
            addCoil(p.address, p.name);
            if (m_memory)
                m_memory->tab_bits[p.address] = p.value != 0;
        } else if (reachable(p.address, true)) {
            addPair(p.address, p.name);
            if (m_memory)
                setPairLocked(p.address, static_cast<uint32_t>(p.value));
        }
    }
}

PlcSimulator::~PlcSimulator()
{
    stop();
    // The pseudo-terminal's descriptors belong to m_pty, not to libmodbus.
    if (m_ctx && m_pty.isOpen())
        modbus_set_socket(m_ctx.get(), -1);
    for (int fd : m_replyPipe) {
        if (fd >= 0)
            ::close(fd);
    }
}

QVector<PlcSimulator::Parameter> PlcSimulator::readParameters(const QString &path)
{
    QVector<Parameter> params;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return params;
    ConfLineReader reader(file, 1023);
    QByteArray line;
    while (reader.nextLine(line)) {
        const std::vector<std::string> pieces = splitString(line.toStdString(), "|");
        if (pieces.size() != 4)
            continue;
        Parameter p;
        p.name = decodeName(QByteArray::fromStdString(pieces[0]));
        p.address = QByteArray::fromStdString(pieces[1]).trimmed().toInt();
        p.value = QByteArray::fromStdString(pieces[2]).trimmed().toInt();
        params.append(p);
    }
    return params;
}

QStringList PlcSimulator::addressProblems(const PlcAddrMap &addr, const QVector<Parameter> &params)
{
    QStringList problems;
    for (const AddressField &f : kAddressFields) {
        const int a = addr.*(f.field);
        if (a > 0 && !reachable(a, f.pair))
            problems << QStringLiteral("modbus.txt: %1=%2 is beyond the Modbus %3 (1 to %4)")
                            .arg(QLatin1String(f.key))
                            .arg(a)
                            .arg(f.pair ? QStringLiteral("register pairs") : QStringLiteral("coils"))
                            .arg(f.pair ? kAddressSpace - 2 : kAddressSpace - 1);
    }
    for (const Parameter &p : params) {
        if (p.address >= kFirstRegisterAddress && !reachable(p.address, true))
            problems << QStringLiteral("plc.txt: %1 at %2 is beyond the Modbus register pairs (%3 to %4)")
                            .arg(p.name)
                            .arg(p.address)
                            .arg(kFirstRegisterAddress)
                            .arg(kAddressSpace - 2);
    }
    return problems;
}

bool PlcSimulator::canServe(QString *error) const
{
    if (m_memory && m_replyPipe[0] >= 0)
        return true;
    if (error)
        *error = m_memory ? QStringLiteral("can't make the pipe that catches the replies")
                          : QStringLiteral("out of memory for the PLC memory");
    return false;
}

bool PlcSimulator::openPseudoTerminal(QString *error)
{
    if (!canServe(error))
        return false;
    if (!m_pty.open(error))
        return false;
    m_devicePath = m_pty.slavePath();
    m_pacedHere = true;
    m_ctx.reset(modbus_new_rtu(m_devicePath.toLocal8Bit().constData(), 9600, 'N', 8, 1));
    if (!m_ctx) {
        if (error)
            *error = QStringLiteral("modbus_new_rtu failed");
        m_pty.close();
        return false;
    }
    modbus_set_socket(m_ctx.get(), m_pty.masterFd());
    modbus_set_slave(m_ctx.get(), kSlave);
    modbus_set_indication_timeout(m_ctx.get(), 0, kIndicationTimeoutMs * 1000);
    return true;
}

bool PlcSimulator::openDevice(const QString &path, QString *error)
{
    if (!canServe(error))
        return false;
    m_ctx.reset(modbus_new_rtu(path.toLocal8Bit().constData(), 9600, 'N', 8, 1));
    if (!m_ctx || modbus_connect(m_ctx.get()) == -1) {
        if (error)
            *error = QStringLiteral("can't open %1: %2").arg(path, QString::fromLocal8Bit(modbus_strerror(errno)));
        m_ctx.reset();
        return false;
    }
    m_devicePath = path;
    m_pacedHere = false;
    modbus_set_slave(m_ctx.get(), kSlave);
    modbus_set_indication_timeout(m_ctx.get(), 0, kIndicationTimeoutMs * 1000);
    return true;
}

bool PlcSimulator::start()
{
    if (!m_ctx || m_thread.joinable())
        return false;
    m_stop = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_lastTick = Clock::now();
    }
    m_thread = std::thread(&PlcSimulator::serve, this);
    return true;
}

void PlcSimulator::stop()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
}

void PlcSimulator::setLogger(Logger logger)
{
    std::lock_guard<std::mutex> lock(m_logMutex);
    m_logger = std::move(logger);
}

void PlcSimulator::log(const QString &line)
{
    std::lock_guard<std::mutex> lock(m_logMutex);
    if (m_logger)
        m_logger(timestamp() + QLatin1Char(' ') + line);
}

void PlcSimulator::note(const QString &line)
{
    m_pendingLog << timestamp() + QLatin1Char(' ') + line;
}

void PlcSimulator::flushLog()
{
    QStringList lines;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        lines.swap(m_pendingLog);
    }
    std::lock_guard<std::mutex> lock(m_logMutex);
    if (m_logger) {
        for (const QString &line : lines)
            m_logger(line);
    }
}

void PlcSimulator::serve()
{
    uint8_t req[MODBUS_RTU_MAX_ADU_LENGTH];
    while (!m_stop) {
        const int length = modbus_receive(m_ctx.get(), req);
        const int err = errno;
        const auto received = Clock::now();
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            advanceProduction();
        }
        if (length > 0) {
            ++m_requests;
            const QByteArray reply = handle(req, length);
            flushLog();
            deliver(reply, length, received);
        } else if (length < 0 && err != ETIMEDOUT) {
            // A garbled frame: drop whatever is left of it before the next request.
            modbus_flush(m_ctx.get());
            if (err != EMBBADCRC && err != EMBBADDATA)
                std::this_thread::sleep_for(std::chrono::milliseconds(kIndicationTimeoutMs));
        }
    }
}

bool PlcSimulator::served(bool coils, int addr, int count) const
{
    if (addr < 0 || count < 1 || addr + count > kAddressSpace)
        return false;
    if (m_options.anyAddress)
        return true;
    const QSet<int> &set = coils ? m_coils : m_registers;
    for (int a = addr; a < addr + count; ++a) {
        if (!set.contains(a))
            return false;
    }
    return true;
}

QString PlcSimulator::nameOf(bool coil, int addr) const
{
    if (coil)
        return m_coilNames.value(addr);
    if (m_pairNames.contains(addr))
        return m_pairNames.value(addr) + QStringLiteral(" low");
    if (m_pairNames.contains(addr - 1))
        return m_pairNames.value(addr - 1) + QStringLiteral(" high");
    return QString();
}

template <typename Reply>
QByteArray PlcSimulator::captured(Reply reply)
{
    const int line = modbus_get_socket(m_ctx.get());
    modbus_set_socket(m_ctx.get(), m_replyPipe[1]);
    reply(m_ctx.get());
    modbus_set_socket(m_ctx.get(), line);
    QByteArray bytes;
    char buf[MODBUS_RTU_MAX_ADU_LENGTH];
    ssize_t n;
    while ((n = ::read(m_replyPipe[0], buf, sizeof buf)) > 0)
        bytes.append(buf, static_cast<int>(n));
    return bytes;
}

bool PlcSimulator::waitUntil(Clock::time_point due) const
{
    for (auto now = Clock::now(); now < due && !m_stop; now = Clock::now())
        std::this_thread::sleep_for(std::min<Clock::duration>(due - now, kWaitSlice));
    return !m_stop;
}

void PlcSimulator::deliver(const QByteArray &reply, int requestBytes, Clock::time_point received)
{
    const int fd = modbus_get_socket(m_ctx.get());
    auto send = [fd](const char *bytes, int count) {
        while (count > 0) {
            const ssize_t n = ::write(fd, bytes, static_cast<size_t>(count));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return;
            bytes += n;
            count -= static_cast<int>(n);
        }
    };
    if (reply.isEmpty())
        return;
    if (m_options.baud <= 0) {
        send(reply.constData(), reply.size());
        return;
    }
    // Ten bits a byte: start, eight data bits, stop.
    const auto byteTime = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(10.0 / m_options.baud));
    auto due = received + std::chrono::milliseconds(m_options.scanMs);
    if (!m_pacedHere) {
        // The device's own line has carried the request and will carry the reply.
        if (waitUntil(due))
            send(reply.constData(), reply.size());
        return;
    }
    // The pseudo-terminal handed over the request at once; on the line it was still arriving.
    due += requestBytes * byteTime;
    for (int i = 0; i < reply.size(); ++i) {
        due += byteTime;
        if (!waitUntil(due))
            return;
        send(reply.constData() + i, 1);
    }
}

QByteArray PlcSimulator::handle(const uint8_t *req, int length)
{
    const int h = modbus_get_header_length(m_ctx.get());
    if (length < h + 1)
        return QByteArray();
    const int function = req[h];
    // Every function served here carries an address and a count or value.
    const bool full = length >= h + 5;
    const int addr = full ? (req[h + 1] << 8) | req[h + 2] : 0;
    const int field = full ? (req[h + 3] << 8) | req[h + 4] : 0;

    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_answering) {
        ++m_ignored;
        return QByteArray();
    }
    bool coils = true;
    int count = 1;
    switch (function) {
    case 0x01: count = field; break;                  // read coils
    case 0x03: coils = false; count = field; break;   // read holding registers
    case 0x05: break;                                 // write one coil
    case 0x06: coils = false; break;                  // write one register
    case 0x0F: count = field; break;                  // write coils
    case 0x10: coils = false; count = field; break;   // write registers
    default:
        note(QStringLiteral("refused function 0x%1").arg(function, 2, 16, QLatin1Char('0')));
        return captured([req](modbus_t *ctx) {
            modbus_reply_exception(ctx, req, MODBUS_EXCEPTION_ILLEGAL_FUNCTION);
        });
    }
    if (!full)
        return QByteArray();
    if (!served(coils, addr, count)) {
        note(QStringLiteral("refused %1 %2..%3: not configured")
                .arg(coils ? QStringLiteral("coils") : QStringLiteral("registers"))
                .arg(addr)
                .arg(addr + count - 1));
        return captured([req](modbus_t *ctx) {
            modbus_reply_exception(ctx, req, MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS);
        });
    }
    const bool write = function == 0x05 || function == 0x06 || function == 0x0F || function == 0x10;
    QVector<uint16_t> before;
    if (write) {
        for (int a = addr; a < addr + count; ++a)
            before.append(coils ? m_memory->tab_bits[a] : m_memory->tab_registers[a]);
    }
    int replied = -1;
    const QByteArray reply = captured([&](modbus_t *ctx) {
        replied = modbus_reply(ctx, req, length, m_memory.get());
    });
    if (replied < 0 || !write)
        return reply;
    if (coils) {
        for (int i = 0; i < count; ++i)
            afterCoilWrite(addr + i, before[i] != 0, m_memory->tab_bits[addr + i] != 0);
    } else {
        afterRegisterWrite(addr, count, before);
    }
    return reply;
}

void PlcSimulator::afterCoilWrite(int addr, bool before, bool after)
{
    const QString name = nameOf(true, addr);
    note(QStringLiteral("write coil %1%2 = %3")
            .arg(addr)
            .arg(name.isEmpty() ? QString() : QLatin1Char(' ') + name)
            .arg(after ? 1 : 0));
    const auto now = Clock::now();
    // An unconfigured signal (address 0) must not claim coil 0.
    auto is = [addr](int configured) { return configured > 0 && addr == configured; };
    if (is(m_addr.WORK) && before != after)
        note(after ? QStringLiteral("machine running") : QStringLiteral("machine paused"));
    if (is(m_addr.NO_KICK) && before != after)
        note(after ? QStringLiteral("no-kick mode: rejects pass") : QStringLiteral("rejects are kicked again"));
    if (is(m_addr.RESET) && before != after) {
        if (after) {
            m_resetSince = now;
            note(QStringLiteral("RESET pulse begins"));
        } else {
            const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now - m_resetSince).count();
            note(QStringLiteral("RESET pulse ends after %1 ms").arg(ms));
        }
    }
    if (is(m_addr.SHIFT) && after) {
        const int64_t total = m_addr.QUANTITY > 0 ? pairLocked(m_addr.QUANTITY) : 0;
        for (int k = 0; k < kPositions; ++k) {
            if (m_addr.kick(k) > 0)
                setPairLocked(m_addr.kick(k), 0);
            m_kickFraction[k] = 0;
        }
        if (m_addr.QUANTITY > 0)
            setPairLocked(m_addr.QUANTITY, 0);
        m_boxFraction = 0;
        // The machine acknowledges the change by dropping the coil again.
        m_memory->tab_bits[addr] = 0;
        note(QStringLiteral("SHIFT pulse: shift closed at %1 boxes, counters back to 0").arg(total));
    }
}

void PlcSimulator::afterRegisterWrite(int first, int count, const QVector<uint16_t> &before)
{
    QStringList values;
    for (int a = first; a < first + count; ++a)
        values << QString::number(m_memory->tab_registers[a]);
    QString line = QStringLiteral("write registers %1..%2 = %3").arg(first).arg(first + count - 1).arg(values.join(QLatin1Char(' ')));
    for (int a = first; a < first + count; ++a) {
        if (m_pairNames.contains(a) && a + 1 < first + count)
            line += QStringLiteral(" (%1 = %2)").arg(m_pairNames.value(a)).arg(static_cast<int32_t>(pairLocked(a)));
    }
    note(line);
    if (m_addr.ALARM > 0 && first <= m_addr.ALARM && m_addr.ALARM < first + count) {
        const int old = before[m_addr.ALARM - first];
        const int now = m_memory->tab_registers[m_addr.ALARM];
        if (old != 0 && now == 0)
            note(QStringLiteral("alarm %1 cleared by the station").arg(old));
    }
}

void PlcSimulator::advanceProduction()
{
    const auto now = Clock::now();
    const double seconds = std::chrono::duration<double>(now - m_lastTick).count();
    m_lastTick = now;
    if (m_addr.WORK <= 0 || !m_memory->tab_bits[m_addr.WORK])
        return;
    m_boxFraction += seconds * m_options.boxesPerSecond;
    // Counters are 32 bits wide; a longer pause than they can count wraps them as a PLC does.
    const double boxes = std::floor(std::min(m_boxFraction, 4294967295.0));
    if (boxes < 1)
        return;
    m_boxFraction -= boxes;
    if (m_addr.QUANTITY > 0)
        setPairLocked(m_addr.QUANTITY, pairLocked(m_addr.QUANTITY) + static_cast<uint32_t>(boxes));
    if (m_addr.NO_KICK > 0 && m_memory->tab_bits[m_addr.NO_KICK])
        return;
    for (int k = 0; k < kPositions; ++k) {
        const int a = m_addr.kick(k);
        if (a <= 0)
            continue;
        m_kickFraction[k] += boxes * m_options.rejectShare[k];
        const double kicks = std::floor(m_kickFraction[k]);
        m_kickFraction[k] -= kicks;
        if (kicks >= 1)
            setPairLocked(a, pairLocked(a) + static_cast<uint32_t>(kicks));
    }
}

uint32_t PlcSimulator::pairLocked(int addr) const
{
    if (addr < 0 || addr > kAddressSpace - 2)
        return 0;
    return uint32_t(m_memory->tab_registers[addr + 1]) << 16 | m_memory->tab_registers[addr];
}

void PlcSimulator::setPairLocked(int addr, uint32_t value)
{
    if (addr < 0 || addr > kAddressSpace - 2)
        return;
    m_memory->tab_registers[addr] = static_cast<uint16_t>(value & 0xFFFF);
    m_memory->tab_registers[addr + 1] = static_cast<uint16_t>(value >> 16);
}

void PlcSimulator::setAlarm(int code)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_addr.ALARM > 0)
        setPairLocked(m_addr.ALARM, static_cast<uint16_t>(code));
}

int PlcSimulator::alarm() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_addr.ALARM > 0 ? m_memory->tab_registers[m_addr.ALARM] : 0;
}

void PlcSimulator::setAnswering(bool answering)
{
    int ignored = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_answering == answering)
            return;
        m_answering = answering;
        ignored = m_ignored;
        m_ignored = 0;
    }
    if (answering)
        log(QStringLiteral("answering again (%1 requests ignored)").arg(ignored));
    else
        log(QStringLiteral("not answering any more"));
}

bool PlcSimulator::answering() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_answering;
}

void PlcSimulator::setBoxesPerSecond(double rate)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    // An infinite or NaN rate would make the box count undefined.
    m_options.boxesPerSecond = std::isfinite(rate) ? std::min(kMaxBoxesPerSecond, std::max(0.0, rate)) : 0.0;
}

void PlcSimulator::setRejectShare(int position, double share)
{
    if (position < 0 || position >= kPositions)
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_options.rejectShare[position] = std::min(1.0, std::max(0.0, share));
}

bool PlcSimulator::coil(int addr) const
{
    if (addr < 0 || addr >= kAddressSpace)
        return false;
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_memory->tab_bits[addr] != 0;
}

void PlcSimulator::setCoil(int addr, bool value)
{
    if (addr < 0 || addr >= kAddressSpace)
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_memory->tab_bits[addr] = value;
}

uint16_t PlcSimulator::reg(int addr) const
{
    if (addr < 0 || addr >= kAddressSpace)
        return 0;
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_memory->tab_registers[addr];
}

uint32_t PlcSimulator::pair(int addr) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return pairLocked(addr);
}

void PlcSimulator::setPair(int addr, uint32_t value)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    setPairLocked(addr, value);
}

QString PlcSimulator::commandHelp()
{
    return QStringLiteral(
        "Commands (one per line, on standard input or appended to the control file):\n"
        "  alarm N          raise PLC alarm code N (7, 8: reconnect camera 1#, 2#); 0 clears\n"
        "  clear            clear the alarm (code 0)\n"
        "  mute             stop answering requests (the station sees time-outs)\n"
        "  answer           answer requests again\n"
        "  work 0|1         pause or run the machine from its own panel\n"
        "  nokick 0|1       no-kick mode off or on\n"
        "  rate N           boxes per second while working (0 to 1000000)\n"
        "  reject S         share of boxes kicked at every camera (0.02 = 2%)\n"
        "  reject P S       the same for camera P (1..4)\n"
        "  quantity N       set the production total\n"
        "  kick P N         set the kick total of camera P (1..4)\n"
        "  set ADDR V       set a coil or a register pair (configured pairs, and any ADDR >= 40000)\n"
        "  get ADDR         show a coil or a register pair\n"
        "  status           show the machine's state and counters\n"
        "  help             this text\n"
        "  quit             stop the simulator\n");
}

QString PlcSimulator::timingText(const Options &options)
{
    if (options.baud <= 0)
        return QStringLiteral("instant, no delay");
    return QStringLiteral("%1 baud, %2 ms scan").arg(options.baud).arg(options.scanMs);
}

QString PlcSimulator::addressSummary() const
{
    QStringList coils, pairs;
    QList<int> c = m_coilNames.keys();
    std::sort(c.begin(), c.end());
    for (int a : c)
        coils << QStringLiteral("%1=%2").arg(m_coilNames.value(a)).arg(a);
    QList<int> p = m_pairNames.keys();
    std::sort(p.begin(), p.end());
    for (int a : p)
        pairs << QStringLiteral("%1=%2").arg(m_pairNames.value(a)).arg(a);
    return QStringLiteral("Coils: %1\nRegister pairs (low word first): %2")
        .arg(coils.isEmpty() ? QStringLiteral("none") : coils.join(QLatin1Char(' ')),
             pairs.isEmpty() ? QStringLiteral("none") : pairs.join(QLatin1Char(' ')));
}

QString PlcSimulator::execute(const QString &command)
{
    const QStringList w = command.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (w.isEmpty())
        return QString();
    const QString verb = w[0].toLower();
    long long a = 0, b = 0;
    // modbus.txt puts register pairs at small addresses too; plc.txt's rule decides the rest.
    auto isPair = [this](long long address) {
        if (m_pairNames.contains(static_cast<int>(address)))
            return true;
        if (m_coilNames.contains(static_cast<int>(address)))
            return false;
        return address >= kFirstRegisterAddress;
    };
    if (verb == QLatin1String("help") || verb == QLatin1String("?"))
        return commandHelp();
    if (verb == QLatin1String("alarm") && w.size() == 2 && parseInt(w[1], a) && a >= 0 && a <= 0xFFFF) {
        if (m_addr.ALARM <= 0)
            return QStringLiteral("ALARM is not configured in modbus.txt");
        setAlarm(static_cast<int>(a));
        return (a == 0 ? QStringLiteral("alarm cleared") : QStringLiteral("alarm %1 raised").arg(a));
    }
    if (verb == QLatin1String("clear") && w.size() == 1)
        return execute(QStringLiteral("alarm 0"));
    if (verb == QLatin1String("mute") && w.size() == 1) {
        setAnswering(false);   // logs
        return QString();
    }
    if ((verb == QLatin1String("answer") || verb == QLatin1String("unmute")) && w.size() == 1) {
        setAnswering(true);
        return QString();
    }
    if ((verb == QLatin1String("work") || verb == QLatin1String("nokick")) && w.size() == 2
        && parseInt(w[1], a)) {
        const int address = verb == QLatin1String("work") ? m_addr.WORK : m_addr.NO_KICK;
        if (address <= 0)
            return QStringLiteral("%1 is not configured in modbus.txt").arg(verb.toUpper());
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            advanceProduction();
            m_memory->tab_bits[address] = a != 0;
        }
        return (QStringLiteral("%1 = %2 (set at the machine)").arg(verb.toUpper()).arg(a != 0 ? 1 : 0));
    }
    if (verb == QLatin1String("rate") && w.size() == 2) {
        bool ok = false;
        const double rate = w[1].toDouble(&ok);
        if (ok && rate >= 0 && rate <= kMaxBoxesPerSecond) {
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                advanceProduction();
            }
            setBoxesPerSecond(rate);
            return (QStringLiteral("%1 boxes per second").arg(rate));
        }
    }
    if (verb == QLatin1String("reject") && (w.size() == 2 || w.size() == 3)) {
        bool ok = false;
        const double share = w.last().toDouble(&ok);
        if (ok && share >= 0 && share <= 1) {
            if (w.size() == 2) {
                for (int k = 0; k < kPositions; ++k)
                    setRejectShare(k, share);
                return (QStringLiteral("reject share %1 at every camera").arg(share));
            }
            if (parseInt(w[1], a) && a >= 1 && a <= kPositions) {
                setRejectShare(static_cast<int>(a - 1), share);
                return (QStringLiteral("reject share %1 at camera %2#").arg(share).arg(a));
            }
        }
    }
    if (verb == QLatin1String("quantity") && w.size() == 2 && parseInt(w[1], a) && a >= 0 && a <= 0xFFFFFFFFLL) {
        if (m_addr.QUANTITY <= 0)
            return QStringLiteral("QUANTITY is not configured in modbus.txt");
        setPair(m_addr.QUANTITY, static_cast<uint32_t>(a));
        return (QStringLiteral("QUANTITY = %1").arg(a));
    }
    if (verb == QLatin1String("kick") && w.size() == 3 && parseInt(w[1], a) && a >= 1 && a <= kPositions
        && parseInt(w[2], b) && b >= 0 && b <= 0xFFFFFFFFLL) {
        const int address = m_addr.kick(static_cast<int>(a - 1));
        if (address <= 0)
            return QStringLiteral("KICK%1 is not configured in modbus.txt").arg(a);
        setPair(address, static_cast<uint32_t>(b));
        return (QStringLiteral("KICK%1 = %2").arg(a).arg(b));
    }
    if (verb == QLatin1String("set") && w.size() == 3 && parseInt(w[1], a) && a >= 0 && a < kAddressSpace
        && parseInt(w[2], b)) {
        if (!isPair(a)) {
            setCoil(static_cast<int>(a), b != 0);
            return (QStringLiteral("coil %1 = %2").arg(a).arg(b != 0 ? 1 : 0));
        }
        if (a + 1 < kAddressSpace) {
            setPair(static_cast<int>(a), static_cast<uint32_t>(b));
            return (QStringLiteral("registers %1..%2 = %3").arg(a).arg(a + 1).arg(static_cast<int32_t>(b)));
        }
    }
    if (verb == QLatin1String("get") && w.size() == 2 && parseInt(w[1], a) && a >= 0 && a < kAddressSpace) {
        if (!isPair(a))
            return QStringLiteral("coil %1 = %2").arg(a).arg(coil(static_cast<int>(a)) ? 1 : 0);
        return QStringLiteral("registers %1..%2 = %3").arg(a).arg(a + 1).arg(static_cast<int32_t>(pair(static_cast<int>(a))));
    }
    if (verb == QLatin1String("status") && w.size() == 1) {
        std::lock_guard<std::mutex> lock(m_mutex);
        advanceProduction();
        auto bit = [this](int address) {
            return address > 0 ? QString::number(m_memory->tab_bits[address]) : QStringLiteral("-");
        };
        auto value = [this](int address) {
            return address > 0 ? QString::number(static_cast<int32_t>(pairLocked(address))) : QStringLiteral("-");
        };
        return QStringLiteral("WORK %1  NO_KICK %2  QUANTITY %3  KICK1..4 %4 %5 %6 %7  ALARM %8  %9, %10 boxes/s")
            .arg(bit(m_addr.WORK), bit(m_addr.NO_KICK), value(m_addr.QUANTITY), value(m_addr.KICK1),
                 value(m_addr.KICK2), value(m_addr.KICK3), value(m_addr.KICK4),
                 m_addr.ALARM > 0 ? QString::number(m_memory->tab_registers[m_addr.ALARM]) : QStringLiteral("-"),
                 m_answering ? QStringLiteral("answering") : QStringLiteral("not answering"))
            .arg(m_options.boxesPerSecond);
    }
    return QStringLiteral("unknown command: %1 (type help)").arg(command.simplified());
}
