// plcsim: the packing machine's PLC for a station without one. See --help.
#include "PlcSimulator.h"

#include "PlcAddrMap.h"
#include "StationPaths.h"

#include <QCommandLineParser>
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

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Simulates the packing machine's PLC for the Gluebox station: a Modbus RTU slave\n"
        "(address 1, 9600 8N1) with the coils and register pairs of a station's modbus.txt\n"
        "and plc.txt. It opens a pseudo-terminal and prints the device the station should\n"
        "use (GLUEBOX_PLC_PORT), prints every write it receives, and takes commands on\n"
        "standard input.\n\n")
        + PlcSimulator::commandHelp());
    parser.addHelpOption();
    const QCommandLineOption stationOpt(QStringLiteral("station"),
        QStringLiteral("Station folder whose conf/ holds modbus.txt and plc.txt (default: the parent of the current directory, as for the station run from bin/)."),
        QStringLiteral("dir"));
    const QCommandLineOption deviceOpt(QStringLiteral("device"),
        QStringLiteral("Serve this serial device instead of a new pseudo-terminal."), QStringLiteral("path"));
    const QCommandLineOption linkOpt(QStringLiteral("link"),
        QStringLiteral("Also make a symbolic link at this path to the pseudo-terminal (removed at exit)."),
        QStringLiteral("path"));
    const QCommandLineOption rateOpt(QStringLiteral("rate"),
        QStringLiteral("Boxes per second while WORK is 1 (default 5)."), QStringLiteral("n"), QStringLiteral("5"));
    const QCommandLineOption rejectOpt(QStringLiteral("reject"),
        QStringLiteral("Share of boxes kicked, for every camera or as four comma-separated values (default 0.02)."),
        QStringLiteral("s[,s,s,s]"), QStringLiteral("0.02"));
    const QCommandLineOption controlOpt(QStringLiteral("control"),
        QStringLiteral("Also run commands appended to this file (lines already in it are skipped)."),
        QStringLiteral("file"));
    const QCommandLineOption anyOpt(QStringLiteral("any-address"),
        QStringLiteral("Answer at every address, not only at the configured ones."));
    parser.addOptions({stationOpt, deviceOpt, linkOpt, rateOpt, rejectOpt, controlOpt, anyOpt});
    parser.process(app);

    PlcSimulator::Options options;
    bool ok = false;
    options.boxesPerSecond = parser.value(rateOpt).toDouble(&ok);
    if (!ok || options.boxesPerSecond < 0) {
        std::fprintf(stderr, "plcsim: --rate needs a number of boxes per second\n");
        return 2;
    }
    const QStringList shares = parser.value(rejectOpt).split(QLatin1Char(','));
    if (shares.size() != 1 && shares.size() != PlcSimulator::kPositions) {
        std::fprintf(stderr, "plcsim: --reject takes one share or four\n");
        return 2;
    }
    for (int k = 0; k < PlcSimulator::kPositions; ++k) {
        const double s = shares[shares.size() == 1 ? 0 : k].toDouble(&ok);
        if (!ok || s < 0 || s > 1) {
            std::fprintf(stderr, "plcsim: a reject share is a number from 0 to 1\n");
            return 2;
        }
        options.rejectShare[k] = s;
    }
    options.anyAddress = parser.isSet(anyOpt);
    const QString controlPath = parser.isSet(controlOpt)
        ? QFileInfo(parser.value(controlOpt)).absoluteFilePath() : QString();
    const QString linkPath = parser.isSet(linkOpt) ? QFileInfo(parser.value(linkOpt)).absoluteFilePath() : QString();

    // The station's own readers take their paths relative to <station>/bin.
    const QString before = QDir::currentPath();
    if (parser.isSet(stationOpt)) {
        const QString bin = QDir(parser.value(stationOpt)).filePath(QStringLiteral("bin"));
        if (!QDir::setCurrent(bin)) {
            std::fprintf(stderr, "plcsim: %s is not a station folder (no bin/)\n", qPrintable(parser.value(stationOpt)));
            return 2;
        }
    }
    PlcAddrMap addr;
    if (!readPlcAddrMap(addr))
        print(QStringLiteral("No address map: every address is unconfigured (see --station)."));
    const QVector<PlcSimulator::Parameter> params = PlcSimulator::readParameters(StationPaths::plcParamFile());
    QDir::setCurrent(before);

    PlcSimulator sim(addr, params, options);
    sim.setLogger(print);
    QString error;
    const bool opened = parser.isSet(deviceOpt) ? sim.openDevice(parser.value(deviceOpt), &error)
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
