// What showing the line costs the window's GUI thread.
//   bench_display [ROUNDS] [SECONDS]
// 1. OnNotifyHub on the real window (offscreen): a 728 x 1632 three-image frame and a
//    2448 x 2048 frame, to an image label in the normal view (431 x 471) and in full screen
//    (1024 x 768); median and 99th percentile of the slot alone and of the slot followed
//    by the label's repaint. ROUNDS calls each (default 300).
// 2. The station program on the simulated line, two cameras at 1,000 products/min each:
//    the GUI thread's share of one core, and the whole process's, over SECONDS (default
//    30; 0 skips it) after a 20 s start. Needs the built gluebox of the same build.
#include "CpuTime.h"
#include "Gluebox.h"

#include "MatMetaType.h"
#include "PlcAddrMap.h"
#include "PlcSimulator.h"
#include "StationFonts.h"

#include <QApplication>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <opencv2/core.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Figures
{
    double medianMs;
    double p99Ms;
};

Figures timeIt(int rounds, const std::function<void()> &call)
{
    for (int i = 0; i < 5; ++i)
        call();
    std::vector<double> ms;
    ms.reserve(rounds);
    for (int i = 0; i < rounds; ++i) {
        const auto start = Clock::now();
        call();
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms[std::min(ms.size() - 1, ms.size() * 99 / 100)]};
}

bool copyTree(const QString &from, const QString &to)
{
    QDirIterator it(from, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString src = it.next();
        const QString dst = to + src.mid(from.size());
        QDir().mkpath(QFileInfo(dst).path());
        if (!QFile::copy(src, dst))
            return false;
    }
    return true;
}

bool rewrite(const QString &path, const std::function<QByteArray(QByteArray)> &change)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = change(f.readAll());
    f.close();
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(text) == text.size();
}

// A station folder from the repository's template with conf.txt changed by `conf`.
std::unique_ptr<QTemporaryDir> makeStation(const std::function<QByteArray(QByteArray)> &conf,
                                           const QByteArray &camsim)
{
    auto dir = std::make_unique<QTemporaryDir>();
    if (!dir->isValid() || !copyTree(QStringLiteral(GLUEBOX_SOURCE_DIR "/station"), dir->path())
        || !QDir(dir->path()).mkpath(QStringLiteral("data"))
        || !rewrite(dir->filePath("conf/conf.txt"), conf)
        || !rewrite(dir->filePath("conf/camsim.txt"), [&](QByteArray) { return camsim; }))
        return nullptr;
    return dir;
}

void benchNotify(int rounds)
{
    // No camera binds to a position: the window alone, no threads or models.
    auto station = makeStation(
        [](QByteArray conf) {
            for (int n = 1; n <= 4; ++n)
                conf.replace(QByteArray("USERID") + QByteArray::number(n) + "=255",
                             QByteArray("USERID") + QByteArray::number(n) + "=99");
            return conf.replace("AUTO_WORK=1", "AUTO_WORK=0");
        },
        "CAMERA=HIK|Hikrobot|255|GigE|728|544|Mono8|\nRATE=60\n");
    if (!station) {
        std::printf("cannot lay out a station folder\n");
        return;
    }
    const QString previous = QDir::currentPath();
    QDir::setCurrent(station->filePath("bin"));
    qputenv("GLUEBOX_PLC_PORT", station->filePath("no-plc").toLocal8Bit());
    {
        Gluebox window;
        window.show();
        QApplication::processEvents();
        auto *label = window.findChild<QLabel *>(QStringLiteral("image_label_11"));

        cv::Mat product(1632, 728, CV_8UC3);
        cv::Mat large(2048, 2448, CV_8UC3);
        cv::randu(product, cv::Scalar::all(0), cv::Scalar::all(255));
        cv::randu(large, cv::Scalar::all(0), cv::Scalar::all(255));

        std::printf("OnNotifyHub, median / p99 in ms          slot alone        slot + repaint\n");
        for (bool fullScreen : {false, true}) {
            if (fullScreen)
                window.OnDBClickHub(0);
            for (const cv::Mat *frame : {&product, &large}) {
                const Figures alone =
                    timeIt(rounds, [&] { window.OnNotifyHub(0, 0, *frame); });
                const Figures painted = timeIt(rounds, [&] {
                    window.OnNotifyHub(0, 0, *frame);
                    label->repaint();
                });
                std::printf("  %4d x %4d to %4d x %3d %s  %6.2f / %6.2f     %6.2f / %6.2f\n",
                            frame->cols, frame->rows, label->width(), label->height(),
                            fullScreen ? "(full screen)" : "             ", alone.medianMs,
                            alone.p99Ms, painted.medianMs, painted.p99Ms);
            }
        }
        window.OnDBClickHub(0);
    }
    QDir::setCurrent(previous);
}

void benchLine(int seconds)
{
    // A recipe: the template's 0|0|0 would pass every defect, so the station holds work
    // for its administrator and the line would never run.
    auto station = makeStation([](QByteArray conf) { return conf.replace("NO1=0|0|0", "NO1=5|5|5")
                                                         .replace("NO2=0|0|0", "NO2=5|5|5"); },
                               "CAMERA=HIK|Hikrobot|255|GigE|728|544|Mono8|\n"
                               "CAMERA=HIK|Hikrobot|255|GigE|728|544|Mono8|\n"
                               "RATE=1000\nSHOTS=3\nNG_SHARE=0.05\nSOURCE=generated\nSEED=1\nDOTS=5\n");
    if (!station) {
        std::printf("cannot lay out a station folder\n");
        return;
    }
    // The line runs only while the station works, and work needs the PLC.
    PlcSimulator::Options options;
    options.anyAddress = true;
    options.boxesPerSecond = 1000.0 / 60;
    PlcAddrMap addr;
    addr.QUANTITY = 110;
    addr.WORK = 11;
    PlcSimulator plc(addr, {}, options);
    QString error;
    if (!plc.openPseudoTerminal(&error) || !plc.start()) {
        std::printf("no PLC simulator: %s\n", qPrintable(error));
        return;
    }
    QProcess gluebox;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("GLUEBOX_PLC_PORT", plc.devicePath());
    gluebox.setProcessEnvironment(env);
    gluebox.setWorkingDirectory(station->filePath("bin"));
    gluebox.setProcessChannelMode(QProcess::MergedChannels);
    // To a file: a full pipe would stall the station's printing threads.
    const QString output = station->filePath("data/output.txt");
    gluebox.setStandardOutputFile(output);
    gluebox.start(QStringLiteral(GLUEBOX_EXECUTABLE), QStringList());
    if (!gluebox.waitForStarted(10000)) {
        std::printf("cannot start %s\n", GLUEBOX_EXECUTABLE);
        return;
    }
    const QString pid = QString::number(gluebox.processId());
    // The GUI thread is the process's first thread: its id is the process id.
    const QString guiStat = "/proc/" + pid + "/task/" + pid + "/stat";
    const QString processStat = "/proc/" + pid + "/stat";

    QThread::sleep(20); // start-up, model loading and the first products
    const double gui0 = statCpuSeconds(guiStat), all0 = statCpuSeconds(processStat);
    QElapsedTimer clock;
    clock.start();
    QThread::sleep(static_cast<unsigned long>(seconds));
    const double gui1 = statCpuSeconds(guiStat), all1 = statCpuSeconds(processStat);
    const double wall = clock.elapsed() / 1000.0;

    gluebox.terminate(); // SIGTERM: the station's orderly shutdown
    gluebox.waitForFinished(30000);
    QFile outputFile(output);
    const QList<QByteArray> lines =
        outputFile.open(QIODevice::ReadOnly) ? outputFile.readAll().split('\n') : QList<QByteArray>();

    if (gui0 < 0 || gui1 < 0) {
        std::printf("the station ended early\n");
        return;
    }
    std::printf("\nStation on the simulated line, 2 cameras x 1000 products/min, %.0f s, %ld cores\n",
                wall, ::sysconf(_SC_NPROCESSORS_ONLN));
    std::printf("  GUI thread: %.1f %% of one core\n", 100.0 * (gui1 - gui0) / wall);
    std::printf("  whole process: %.1f %% of one core\n", 100.0 * (all1 - all0) / wall);
    // The station's own account of the run, as it printed it last.
    QList<QByteArray> account;
    for (const QByteArray &line : lines)
        if (line.startsWith("line "))
            account << line;
    for (int i = std::max(0, static_cast<int>(account.size()) - 2); i < account.size(); ++i)
        std::printf("  %s\n", account[i].constData());
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qRegisterMetaType<cv::Mat>("cv::Mat");
    QApplication app(argc, argv);
    StationFonts::install();
    const int rounds = argc > 1 ? std::max(10, std::atoi(argv[1])) : 300;
    const int seconds = argc > 2 ? std::max(0, std::atoi(argv[2])) : 30;
    benchNotify(rounds);
    if (seconds > 0)
        benchLine(seconds);
    return 0;
}
