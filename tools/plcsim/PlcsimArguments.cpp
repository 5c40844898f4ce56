#include "PlcsimArguments.h"

#include <QCommandLineParser>
#include <QFileInfo>

#include <cmath>

bool parsePlcsimArguments(const QStringList &args, PlcsimArguments &out)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Simulates the packing machine's PLC for the Gluebox station: a Modbus RTU slave\n"
        "(address 1, 9600 8N1) with the coils and register pairs of a station's modbus.txt\n"
        "and plc.txt. It opens a pseudo-terminal and prints the device the station should\n"
        "use (GLUEBOX_PLC_PORT), prints every write it receives, and takes commands on\n"
        "standard input. It answers when a real line would: each request and reply takes\n"
        "its bytes' time at --baud, and the PLC's scan (--scan-ms) lies in between.\n\n")
        + PlcSimulator::commandHelp());
    const QCommandLineOption helpOpt = parser.addHelpOption();
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
    const QCommandLineOption baudOpt(QStringLiteral("baud"),
        QStringLiteral("The line's baud rate for the answers' timing (default 9600; 0: instant, no delay at all). With --device the port keeps 9600 and its own pace; only the scan is added."),
        QStringLiteral("n"), QStringLiteral("9600"));
    const QCommandLineOption scanOpt(QStringLiteral("scan-ms"),
        QStringLiteral("The PLC's scan before it answers, in ms (default 10)."), QStringLiteral("n"),
        QStringLiteral("10"));
    const QCommandLineOption instantOpt(QStringLiteral("instant"),
        QStringLiteral("Answer at once: --baud 0 --scan-ms 0."));
    parser.addOptions({stationOpt, deviceOpt, linkOpt, rateOpt, rejectOpt, controlOpt, anyOpt, baudOpt,
                       scanOpt, instantOpt});

    auto refuse = [&out](const QString &why) {
        out.error = why;
        return false;
    };
    if (!parser.parse(args))
        return refuse(parser.errorText());
    if (parser.isSet(helpOpt)) {
        out.help = true;
        out.helpText = parser.helpText();
        return true;
    }
    if (!parser.positionalArguments().isEmpty())
        return refuse(QStringLiteral("unexpected argument %1").arg(parser.positionalArguments().first()));

    bool ok = false;
    out.options.boxesPerSecond = parser.value(rateOpt).toDouble(&ok);
    // A rate of inf or nan would make the box count meaningless (and its conversion undefined).
    if (!ok || !std::isfinite(out.options.boxesPerSecond) || out.options.boxesPerSecond < 0
        || out.options.boxesPerSecond > PlcSimulator::kMaxBoxesPerSecond)
        return refuse(QStringLiteral("--rate needs a number of boxes per second (0 to 1000000)"));
    out.shares = parser.value(rejectOpt).split(QLatin1Char(','));
    if (out.shares.size() != 1 && out.shares.size() != PlcSimulator::kPositions)
        return refuse(QStringLiteral("--reject takes one share or four"));
    for (int k = 0; k < PlcSimulator::kPositions; ++k) {
        const double s = out.shares[out.shares.size() == 1 ? 0 : k].toDouble(&ok);
        if (!ok || !(s >= 0 && s <= 1))
            return refuse(QStringLiteral("a reject share is a number from 0 to 1"));
        out.options.rejectShare[k] = s;
    }
    const bool instant = parser.isSet(instantOpt);
    if (instant && (parser.isSet(baudOpt) || parser.isSet(scanOpt)))
        return refuse(QStringLiteral("--instant takes no --baud or --scan-ms"));
    // Whole numbers only: "1e3" or "10.5" is a typing mistake, not a line's timing.
    bool baudOk = true, scanOk = true;
    const int baud = instant ? 0 : parser.value(baudOpt).toInt(&baudOk);
    const int scanMs = instant ? 0 : parser.value(scanOpt).toInt(&scanOk);
    if (!baudOk || (baud != 0 && (baud < PlcSimulator::kMinBaud || baud > PlcSimulator::kMaxBaud)))
        return refuse(QStringLiteral("--baud needs 0 (instant) or a whole number from %1 to %2")
                          .arg(PlcSimulator::kMinBaud)
                          .arg(PlcSimulator::kMaxBaud));
    if (!scanOk || scanMs < 0 || scanMs > PlcSimulator::kMaxScanMs)
        return refuse(QStringLiteral("--scan-ms needs a whole number of milliseconds from 0 to %1")
                          .arg(PlcSimulator::kMaxScanMs));
    out.options.baud = baud;
    out.options.scanMs = scanMs;
    out.options.anyAddress = parser.isSet(anyOpt);
    out.station = parser.value(stationOpt);
    out.device = parser.value(deviceOpt);
    if (parser.isSet(controlOpt))
        out.control = QFileInfo(parser.value(controlOpt)).absoluteFilePath();
    if (parser.isSet(linkOpt))
        out.link = QFileInfo(parser.value(linkOpt)).absoluteFilePath();
    return true;
}
