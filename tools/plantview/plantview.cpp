// plantview: every station the plant's MQTT broker hears from, in one table. See --help.
#include "PlantSubscriber.h"
#include "PlantTable.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QStringList>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

const char kUsage[] =
    "Usage: plantview [--host H] [--port P] [--user U] [--password W] [--cafile F] [--once SECONDS]\n"
    "\n"
    "Shows every Gluebox station the MQTT broker hears from (topics gluebox/<station>/...):\n"
    "online or offline (\"silent N s\" when an online station has said nothing for over 5 s),\n"
    "products, OK/NG per camera, NG rate, the last alarm and the time of the last message.\n"
    "\n"
    "  --host H        the broker's address (default 127.0.0.1)\n"
    "  --port P        its port (default 1883)\n"
    "  --user U        login at the broker (none by default)\n"
    "  --password W    the login's password\n"
    "  --cafile F      TLS, trusting the certificate authority in file F\n"
    "  --once SECONDS  listen that long once subscribed, print the table once and exit;\n"
    "                  exit 2 if no broker took the subscription within SECONDS (10 at least)\n"
    "  --help          this text\n"
    "\n"
    "Without --once the table is drawn again every second until Ctrl+C. A broker that is\n"
    "away is tried again every second. Exit 1: bad arguments; 130: --once broken off by\n"
    "Ctrl+C.\n";

constexpr int kOnceWaitMinMs = 10000;

std::atomic<bool> g_quit{false};

void onSignal(int)
{
    g_quit = true;
}

// False when the text could not be written (a reader that went away).
bool write(FILE *to, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    const size_t written = std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), to);
    return std::fflush(to) == 0 && written == static_cast<size_t>(bytes.size());
}

int bad(const QString &why)
{
    write(stderr, QStringLiteral("plantview: %1\nTry plantview --help.\n").arg(why));
    return 1;
}

struct Arguments
{
    PlantSubscriber::Options broker;
    double onceSeconds = 0; // 0: live
    bool help = false;
};

// Empty when the arguments are good, else what is wrong with them.
QString parse(const QStringList &args, Arguments &out)
{
    for (int i = 1; i < args.size(); ++i) {
        const QString &a = args[i];
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            out.help = true;
            continue;
        }
        const QStringList withValue{QStringLiteral("--host"), QStringLiteral("--port"), QStringLiteral("--user"),
                                    QStringLiteral("--password"), QStringLiteral("--cafile"),
                                    QStringLiteral("--once")};
        QString name = a, value;
        const int eq = a.indexOf(QLatin1Char('='));
        if (a.startsWith(QLatin1String("--")) && eq > 0) {
            name = a.left(eq);
            value = a.mid(eq + 1);
        } else if (withValue.contains(a)) {
            if (i + 1 >= args.size())
                return QStringLiteral("%1 wants a value").arg(a);
            value = args[++i];
        }
        if (!withValue.contains(name))
            return QStringLiteral("unknown argument \"%1\"").arg(a);
        if (name == QLatin1String("--host")) {
            if (value.trimmed().isEmpty())
                return QStringLiteral("--host wants an address");
            out.broker.host = value.trimmed();
        } else if (name == QLatin1String("--port")) {
            bool ok = false;
            const int port = value.toInt(&ok);
            if (!ok || port < 1 || port > 65535)
                return QStringLiteral("--port wants a number from 1 to 65535, not \"%1\"").arg(value);
            out.broker.port = port;
        } else if (name == QLatin1String("--user")) {
            out.broker.user = value;
        } else if (name == QLatin1String("--password")) {
            out.broker.password = value;
        } else if (name == QLatin1String("--cafile")) {
            const QFileInfo file(value);
            if (!file.isFile() || !file.isReadable())
                return QStringLiteral("--cafile: \"%1\" is not a readable file").arg(value);
            out.broker.caFile = value;
        } else if (name == QLatin1String("--once")) {
            bool ok = false;
            const double seconds = value.toDouble(&ok);
            if (!ok || !(seconds > 0) || seconds > 86400)
                return QStringLiteral("--once wants seconds, more than 0 and at most 86400, not \"%1\"").arg(value);
            out.onceSeconds = seconds;
        }
    }
    if (!out.broker.password.isEmpty() && out.broker.user.isEmpty())
        return QStringLiteral("--password without --user");
    return QString();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("plantview"));

    Arguments args;
    const QString wrong = parse(QCoreApplication::arguments(), args);
    if (!wrong.isEmpty())
        return bad(wrong);
    if (args.help) {
        write(stdout, QString::fromLatin1(kUsage));
        return 0;
    }

    struct sigaction sa = {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    PlantTable table;
    PlantSubscriber subscriber(args.broker);
    QString linkText = QStringLiteral("connecting to %1").arg(subscriber.address());
    bool subscribedOnce = false;
    int exitCode = 0;

    // Queued: the table lives on this thread only.
    QObject::connect(&subscriber, &PlantSubscriber::message, &app,
                     [&](const QString &topic, const QByteArray &payload, const QDateTime &received, bool retained) {
                         table.take(topic, payload, received, retained);
                     });

    QTimer quitPoll;
    QObject::connect(&quitPoll, &QTimer::timeout, &app, [&] {
        if (!g_quit)
            return;
        // Broken off, a --once listen has no whole table to give.
        exitCode = args.onceSeconds > 0 ? 130 : 0;
        app.quit();
    });
    quitPoll.start(100);

    QTimer done; // --once: the listening time, and before it the wait for the broker
    done.setSingleShot(true);
    QTimer redraw;

    if (args.onceSeconds > 0) {
        QObject::connect(&done, &QTimer::timeout, &app, [&] {
            if (!subscribedOnce) {
                write(stderr, QStringLiteral("plantview: gave up after %1 s without the broker\n")
                                  .arg(done.interval() / 1000));
                exitCode = 2;
            } else {
                write(stdout, table.render(QDateTime::currentDateTime()));
            }
            app.quit();
        });
        done.start(static_cast<int>(std::max<double>(kOnceWaitMinMs, args.onceSeconds * 1000)));
    } else {
        const bool terminal = ::isatty(STDOUT_FILENO) == 1;
        const auto draw = [&, terminal] {
            const QDateTime now = QDateTime::currentDateTime();
            // Home and clear: the new table over the old one; into a file or pipe, one
            // table after the other.
            QString screen = terminal ? QStringLiteral("\x1b[H\x1b[2J") : QStringLiteral("\n");
            screen += QStringLiteral("%1  %2\n\n").arg(now.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")), linkText);
            // Piped into a reader that is gone (head, a closed pager): nobody to draw for.
            if (!write(stdout, screen + table.render(now)))
                g_quit = true;
        };
        QObject::connect(&redraw, &QTimer::timeout, &app, draw);
        QTimer::singleShot(0, &app, draw);
        redraw.start(1000);
    }

    QObject::connect(&subscriber, &PlantSubscriber::link, &app, [&](bool up, const QString &text) {
        linkText = up ? text : text + QStringLiteral("; trying again every second");
        write(stderr, QStringLiteral("plantview: %1\n").arg(linkText));
        if (up && !subscribedOnce) {
            subscribedOnce = true;
            if (args.onceSeconds > 0)
                done.start(static_cast<int>(args.onceSeconds * 1000));
        }
    });

    subscriber.start();
    const int loop = app.exec();
    subscriber.stop();
    return exitCode != 0 ? exitCode : loop;
}
