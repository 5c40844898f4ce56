#include "PlcAddrMap.h"
#include "PlcSimulator.h"
#include "TempStation.h"

#include <QRegularExpression>
#include <QDirIterator>
#include <QImage>
#include <QStandardPaths>
#include <QProcess>
#include <QTemporaryDir>
#include <QElapsedTimer>
#include <QThread>
#include <QtTest>

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

// Starts the real station program in a throw-away station folder and ends it the way a
// service manager would.
class tst_GlueboxSmoke : public QObject
{
    Q_OBJECT

private:
    static bool copyTree(const QString &from, const QString &to)
    {
        QDirIterator it(from, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString src = it.next();
            const QString dst = to + src.mid(from.size());
            QDir().mkpath(QFileInfo(dst).path());
            if (!QFile::copy(src, dst))
                return false;
        }
        return true;
    }

    // The station's operation log, every day's file, so that a run over midnight reads it whole.
    static QByteArray logOf(const QTemporaryDir &station)
    {
        return TempStation::readLogs(station.filePath("data/log"));
    }

    static void write(const QString &path, const QByteArray &text)
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(text);
    }

    static QStringList filesBelow(const QString &folder)
    {
        QStringList files;
        QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            files << it.next();
        return files;
    }

    // A port that nothing listens on now (the kernel's pick, given back at once).
    static int freePort()
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        const bool ok = ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0
            && ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) == 0;
        ::close(fd);
        return ok ? ntohs(address.sin_port) : 5999;
    }

    // The station in its folder, offscreen, with no PLC at its port unless one is given.
    static void start(QProcess &gluebox, const QTemporaryDir &station,
                      const QStringList &arguments = QStringList(),
                      const QString &plcPort = QString())
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("GLUEBOX_PLC_PORT", plcPort.isEmpty() ? station.filePath("no-such-port") : plcPort);
        gluebox.setProcessEnvironment(env);
        gluebox.setWorkingDirectory(station.filePath("bin"));
        gluebox.setProcessChannelMode(QProcess::MergedChannels);
        gluebox.start(QStringLiteral(GLUEBOX_EXECUTABLE), arguments);
    }

private slots:
    void startsLogsAndEndsCleanly()
    {
        QTemporaryDir station;
        QVERIFY(copyTree(QStringLiteral(GLUEBOX_SOURCE_DIR "/station"), station.path()));
        QVERIFY(QFile::remove(station.filePath("conf/rotate.txt")));

        QProcess gluebox;
        start(gluebox, station);
        QVERIFY2(gluebox.waitForStarted(10000), qPrintable(gluebox.errorString()));

        QTRY_VERIFY_WITH_TIMEOUT(logOf(station).contains("][INFO] Application Start.\n"), 30000);
        QCOMPARE(gluebox.state(), QProcess::Running);

        ::kill(static_cast<pid_t>(gluebox.processId()), SIGTERM);
        QVERIFY(gluebox.waitForFinished(30000));
        const QByteArray output = gluebox.readAll();
        QVERIFY2(gluebox.exitStatus() == QProcess::NormalExit, output.constData());
        QCOMPARE(gluebox.exitCode(), 0);

        const QByteArray log = logOf(station);
        QVERIFY(log.indexOf("Application Start.") < log.indexOf("Application exited."));
        QVERIFY(QRegularExpression("^\\[\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d:\\d{3}\\]\\[INFO\\] "
                                   "Application Start\\.$",
                                   QRegularExpression::MultilineOption)
                    .match(QString::fromLatin1(log))
                    .hasMatch());

        // A missing rotation file is put back without rotation.
        QCOMPARE(TempStation::read(station.filePath("conf/rotate.txt")), QByteArray("0,3,0,3,0,3,0,3,"));
        QVERIFY2(output.contains("Error: Open config file rotate.txt"), output.constData());
        // No PLC at the configured port: said once, and the station runs on.
        QVERIFY2(output.contains("\nSorry,fail to connect ttyS0,please check your device's state.\n"),
                 output.constData());
        // The default simulated station: two HIK cameras bound to positions 1# and 2#.
        QVERIFY2(output.contains(" Enumerate Cameras...\nCamera:0,vendor = Hikrobot\n"), output.constData());
        QVERIFY(output.contains("Camera Count:\t2\nHikvision Count:\t2\n"));
    }

    // Products with a missing dot run down the simulated line; the cameras stack them, the
    // workers find the gap with the shipped model and the NG images land on disk.
    void inspectsTheSimulatedLine()
    {
        QTemporaryDir station;
        QVERIFY(copyTree(QStringLiteral(GLUEBOX_SOURCE_DIR "/station"), station.path()));
        QByteArray conf = TempStation::read(station.filePath("conf/conf.txt"));
        conf.replace("SAVE=0\n", "SAVE=1\n");
        conf.replace("NO1=0|0|0\n", "NO1=5|5|5\n");
        write(station.filePath("conf/conf.txt"), conf);
        write(station.filePath("conf/camsim.txt"),
              "CAMERA=HIK|Hikrobot|255|GigE|728|544|Mono8|\n"
              "RATE=120\nSHOTS=3\nNG_SHARE=1\nSOURCE=generated\nDOTS=5\nSEED=3\n");

        // The line runs only while the station works, and work needs the PLC.
        PlcSimulator::Options options;
        options.anyAddress = true;
        PlcAddrMap addr;
        addr.QUANTITY = 110;
        addr.WORK = 11;
        PlcSimulator plc(addr, {}, options);
        QString error;
        if (!plc.openPseudoTerminal(&error))
            QSKIP(qPrintable("no pseudo-terminal on this machine: " + error));
        QVERIFY(plc.start());

        QProcess gluebox;
        start(gluebox, station, {}, plc.devicePath());
        QVERIFY(gluebox.waitForStarted(10000));

        const QString images = station.filePath("data/image");
        QTRY_VERIFY_WITH_TIMEOUT(TempStation::filesOnEveryDay(images, "1/ng_result") >= 2, 60000);
        ::kill(static_cast<pid_t>(gluebox.processId()), SIGTERM);
        QVERIFY(gluebox.waitForFinished(120000)); // a sanitized build drains its queues slowly
        QCOMPARE(gluebox.exitCode(), 0);
        QVERIFY(!plc.coil(addr.WORK)); // paused on the way out
        plc.stop();
        const QStringList ng = filesBelow(images).filter(QRegularExpression("/1/ng/"));
        QVERIFY(!ng.isEmpty());
        QVERIFY(QRegularExpression("/ng/[0-2]/[^/]+__[0-2]\\.jpg$").match(ng.first()).hasMatch());
    }

    // Automatic work needs only the PLC: without a camera, or with none opened, WORK still
    // goes to 1 (no capture thread to wait for), and a stop pauses the machine again.
    void automaticWork_data()
    {
        QTest::addColumn<QByteArray>("camsim");
        QTest::addColumn<bool>("autoOpen");
        QTest::newRow("no camera present") << QByteArray("CAMERA=HIK|Hikrobot|9|GigE|728|544|Mono8|\n") << true;
        QTest::newRow("AUTO_OPEN=0")
            << QByteArray("CAMERA=HIK|Hikrobot|255|GigE|728|544|Mono8|\nRATE=60\n") << false;
    }

    void automaticWork()
    {
        QFETCH(QByteArray, camsim);
        QFETCH(bool, autoOpen);
        QTemporaryDir station;
        QVERIFY(copyTree(QStringLiteral(GLUEBOX_SOURCE_DIR "/station"), station.path()));
        write(station.filePath("conf/camsim.txt"), camsim);
        if (!autoOpen) {
            // A found camera needs a recipe, or work waits for the administrator.
            QByteArray conf = TempStation::read(station.filePath("conf/conf.txt"));
            write(station.filePath("conf/conf.txt"),
                  conf.replace("AUTO_OPEN=1", "AUTO_OPEN=0").replace("NO1=0|0|0", "NO1=5|5|5"));
        }
        PlcSimulator::Options options;
        options.anyAddress = true;
        PlcAddrMap addr;
        addr.WORK = 11;
        PlcSimulator plc(addr, {}, options);
        QString error;
        if (!plc.openPseudoTerminal(&error))
            QSKIP(qPrintable("no pseudo-terminal on this machine: " + error));
        QVERIFY(plc.start());
        QProcess gluebox;
        start(gluebox, station, {}, plc.devicePath());
        QVERIFY(gluebox.waitForStarted(10000));
        // Generous bounds: a sanitized build loads and runs the model several times slower.
        QTRY_VERIFY_WITH_TIMEOUT(plc.coil(addr.WORK), 120000);
        ::kill(static_cast<pid_t>(gluebox.processId()), SIGTERM);
        QVERIFY(gluebox.waitForFinished(120000));
        QCOMPARE(gluebox.exitCode(), 0);
        QVERIFY(!plc.coil(addr.WORK));
        plc.stop();
    }

    // A stop request while the program is still starting ends it in order, not on the spot.
    void stopRequestedDuringStartUp()
    {
        QTemporaryDir station;
        QVERIFY(copyTree(QStringLiteral(GLUEBOX_SOURCE_DIR "/station"), station.path()));
        QProcess gluebox;
        start(gluebox, station);
        QVERIFY(gluebox.waitForStarted(10000));
        // As soon as the program catches SIGTERM (its libraries are still initialising then).
        const QString status = QStringLiteral("/proc/%1/status").arg(gluebox.processId());
        auto catchesTerm = [&status] {
            const QByteArray text = TempStation::read(status);
            const int at = text.indexOf("SigCgt:");
            return at >= 0 && (text.mid(at + 7, 17).trimmed().toULongLong(nullptr, 16) & (1ull << (SIGTERM - 1)));
        };
        QElapsedTimer waited;
        waited.start();
        while (!catchesTerm() && waited.elapsed() < 10000)
            QThread::usleep(200);
        QVERIFY(catchesTerm());
        ::kill(static_cast<pid_t>(gluebox.processId()), SIGTERM);
        QVERIFY(gluebox.waitForFinished(60000));
        QVERIFY2(gluebox.exitStatus() == QProcess::NormalExit, gluebox.readAll().constData());
        QCOMPARE(gluebox.exitCode(), 0);
        QVERIFY(logOf(station).endsWith("Application exited.\n"));
    }

    // A model that cannot load is said on standard output and in the log before the box
    // that nobody may see; the process then ends with a failing status (here the box is
    // ended by a stop request).
    void brokenModelFailsTheSelfCheck_data()
    {
        QTest::addColumn<QString>("file");
        QTest::newRow("configuration missing") << "model/jd.cfg";
        QTest::newRow("weights missing") << "model/jd.weights";
        QTest::newRow("names missing") << "model/jd.names";
    }

    void brokenModelFailsTheSelfCheck()
    {
        QFETCH(QString, file);
        QTemporaryDir station;
        QVERIFY(copyTree(QStringLiteral(GLUEBOX_SOURCE_DIR "/station"), station.path()));
        QVERIFY(QFile::remove(station.filePath(file)));
        QProcess gluebox;
        start(gluebox, station);
        QVERIFY(gluebox.waitForStarted(10000));
        QByteArray output;
        QTRY_VERIFY_WITH_TIMEOUT((output += gluebox.readAll()).contains("系统自检失败"), 30000);
        QVERIFY2(output.contains("AI模型1初始化失败，请检查程序完整性"), output.constData());
        QVERIFY(logOf(station).contains("Self-check failed"));
        ::kill(static_cast<pid_t>(gluebox.processId()), SIGTERM);
        QVERIFY(gluebox.waitForFinished(30000));
        QCOMPARE(gluebox.exitStatus(), QProcess::NormalExit);
        QVERIFY(gluebox.exitCode() != 0);
    }

    // Where there is no display, run-station.sh shows the window over Qt's VNC platform:
    // the screenshot tool reads the whole screen from it, and Ctrl+C still ends the
    // station in order.
    void showsTheWindowOverVnc()
    {
        const QString python = QStandardPaths::findExecutable("python3");
        if (python.isEmpty())
            QSKIP("python3 is not installed (scripts/install-deps.sh installs it)");
        QTemporaryDir station;
        QVERIFY(copyTree(QStringLiteral(GLUEBOX_SOURCE_DIR "/station"), station.path()));
        write(station.filePath("conf/camsim.txt"), "RATE=60\n");
        const QString port = QString::number(freePort());

        QProcess gluebox;
        start(gluebox, station, {"-platform", "vnc:size=1024x768:port=" + port});
        QVERIFY(gluebox.waitForStarted(10000));
        const QString picture = station.filePath("screen.png");
        QProcess screenshot;
        screenshot.setProcessChannelMode(QProcess::MergedChannels);
        screenshot.start(python, {QStringLiteral(GLUEBOX_SOURCE_DIR "/tools/screenshot.py"),
                                  "--port", port, "--wait", "60", picture});
        QVERIFY(screenshot.waitForFinished(90000));
        QVERIFY2(screenshot.exitCode() == 0, screenshot.readAll().constData());
        const QImage screen(picture);
        QCOMPARE(screen.size(), QSize(1024, 768));
        // The title band's yellow, where the form puts it.
        QCOMPARE(screen.pixelColor(420, 14), QColor(255, 255, 0));

        ::kill(static_cast<pid_t>(gluebox.processId()), SIGINT);
        QVERIFY(gluebox.waitForFinished(30000));
        QCOMPARE(gluebox.exitCode(), 0);
        QVERIFY(logOf(station).endsWith("Application exited.\n"));
    }
};

QTEST_GUILESS_MAIN(tst_GlueboxSmoke)
#include "tst_gluebox_smoke.moc"
