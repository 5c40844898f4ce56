// plcsim: the packing machine's PLC for a station without one. See --help.
#include "PlcSimulator.h"
#include "PlcsimArguments.h"

#include "PlcAddrMap.h"
#include "StationPaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <poll.h>
#include <unistd.h>

namespace {

std::atomic<bool> g_quit{false};

void onSignal(int)
{
    g_quit = true;
}

std::mutex g_printMutex;

void print(const QString &text)
{
    std::lock_guard<std::mutex> lock(g_printMutex);
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, bytes.size(), stdout);
    if (!bytes.endsWith('\n'))
        std::fputc('\n', stdout);
    std::fflush(stdout);
}

// Commands appended to a file: each complete new line is run once.
class ControlFile
{
public:
    explicit ControlFile(const QString &path) : m_path(path) {}
    QStringList newLines()
    {
        QStringList lines;
        QFile file(m_path);
        if (m_path.isEmpty() || !file.open(QIODevice::ReadOnly))
            return lines;
        if (file.size() < m_offset)   // truncated: start over
            m_offset = 0;
        file.seek(m_offset);
        m_pending += file.readAll();
        m_offset = file.pos();
        int nl;
        while ((nl = m_pending.indexOf('\n')) >= 0) {
            lines << QString::fromLocal8Bit(m_pending.left(nl)).trimmed();
            m_pending.remove(0, nl + 1);
        }
        return lines;
    }
    void skipExisting()
    {
        QFileInfo info(m_path);
        m_offset = info.exists() ? info.size() : 0;
    }

private:
    QString m_path;
    qint64 m_offset = 0;
    QByteArray m_pending;
};

bool isQuit(const QString &line)
{
    const QString w = line.trimmed().toLower();
    return w == QLatin1String("quit") || w == QLatin1String("exit");
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("plcsim"));

    PlcsimArguments args;
    if (!parsePlcsimArguments(QCoreApplication::arguments(), args)) {
        std::fprintf(stderr, "plcsim: %s\n", qPrintable(args.error));
        return 2;
    }
    if (args.help) {
        print(args.helpText);
        return 0;
    }
    const PlcSimulator::Options &options = args.options;
    const QStringList &shares = args.shares;
    const QString &controlPath = args.control;
    const QString &linkPath = args.link;

    // The station's own readers take their paths relative to <station>/bin.
    const QString before = QDir::currentPath();
    if (!args.station.isEmpty()) {
        const QString bin = QDir(args.station).filePath(QStringLiteral("bin"));
        if (!QDir::setCurrent(bin)) {
            std::fprintf(stderr, "plcsim: %s is not a station folder (no bin/)\n", qPrintable(args.station));
            return 2;
        }
    }
    PlcAddrMap addr;
    if (!readPlcAddrMap(addr))
        print(QStringLiteral("No address map: every address is unconfigured (see --station)."));
    const QVector<PlcSimulator::Parameter> params = PlcSimulator::readParameters(StationPaths::plcParamFile());
    QDir::setCurrent(before);
    // Such an address would reach outside the PLC's memory; say which and stop.
    const QStringList problems = PlcSimulator::addressProblems(addr, params);
    if (!problems.isEmpty()) {
        for (const QString &p : problems)
            std::fprintf(stderr, "plcsim: %s\n", qPrintable(p));
        std::fprintf(stderr, "plcsim: not started; correct the addresses above\n");
        return 2;
    }

    PlcSimulator sim(addr, params, options);
    sim.setLogger(print);
    QString error;
    const bool opened = !args.device.isEmpty() ? sim.openDevice(args.device, &error)
                                                : sim.openPseudoTerminal(&error);
    if (!opened) {
        std::fprintf(stderr, "plcsim: %s\n", qPrintable(error));
        return 1;
    }
    if (!linkPath.isEmpty()) {
        QFileInfo old(linkPath);
        if (old.isSymLink())
            QFile::remove(linkPath);
        if (!QFile::link(sim.devicePath(), linkPath)) {
            std::fprintf(stderr, "plcsim: can't create the link %s\n", qPrintable(linkPath));
            return 1;
        }
    }

    struct sigaction sa = {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    // Started with & from a shell, a read of the terminal would stop the whole process
    // (and with it the PLC); ignored, the read fails and standard input is left alone.
    std::signal(SIGTTIN, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);

    print(QStringLiteral("PLC device: %1").arg(sim.devicePath()));
    print(QStringLiteral("Start the station with GLUEBOX_PLC_PORT=%1%2")
              .arg(linkPath.isEmpty() ? sim.devicePath() : linkPath,
                   linkPath.isEmpty() ? QString() : QStringLiteral(" (a link to %1)").arg(sim.devicePath())));
    print(sim.addressSummary());
    print(QStringLiteral("Production: %1 boxes/s while WORK is 1; reject shares %2. Type help for commands.")
              .arg(options.boxesPerSecond)
              .arg(shares.join(QLatin1Char(','))));
    print(QStringLiteral("Line timing: %1.").arg(PlcSimulator::timingText(options)));
    if (!sim.start()) {
        std::fprintf(stderr, "plcsim: can't start serving\n");
        return 1;
    }

    ControlFile control(controlPath);
    control.skipExisting();
    bool stdinOpen = true;
    QByteArray stdinPending;
    while (!g_quit) {
        pollfd fd{STDIN_FILENO, POLLIN, 0};
        const int ready = ::poll(&fd, stdinOpen ? 1 : 0, 200);
        QStringList commands;
        if (ready > 0 && stdinOpen) {
            char buf[512];
            const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
            if (n > 0) {
                stdinPending.append(buf, static_cast<int>(n));
                int nl;
                while ((nl = stdinPending.indexOf('\n')) >= 0) {
                    commands << QString::fromLocal8Bit(stdinPending.left(nl)).trimmed();
                    stdinPending.remove(0, nl + 1);
                }
            } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
                // No more input (started in the background): keep serving until a signal.
                stdinOpen = false;
            }
        }
        commands << control.newLines();
        for (const QString &c : commands) {
            if (isQuit(c)) {
                g_quit = true;
                break;
            }
            const QString reply = sim.execute(c);
            if (!reply.isEmpty())
                print(reply);
        }
    }
    sim.stop();
    if (!linkPath.isEmpty())
        QFile::remove(linkPath);
    print(QStringLiteral("PLC simulator stopped."));
    return 0;
}
