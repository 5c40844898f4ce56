// The station's ejections on the real-time simulated line, rate by rate.
//   bench_line [--station DIR] [--seconds S] [--rates 600,800,...] [--cameras N] [--vendor HIK|Basler|Balluff]
//            [--flat 1] [--ng SHARE] [--plc-baud N | --plc off] [--save 0|1|2 [--slow-disk MS]]
// Two HIK cameras (by default), three shots per product, the shipped model (DIR/model and
// DIR/bin/alg_jd.jpg, default: the repository's station/), recipe 5|5|5, 5 dots per
// picture, 10 % bad products (--ng), MISMATCHACT 1. Each rate is held for S seconds
// (default 60) after the start of work (lists cleared, detectors warmed up). Per rate: the
// line's account, pairing errors, verdict latency, CPU share (and how much of it went to
// drawing pictures at idle priority), peak memory, the distinct products shown, and where
// the capture side's time went, and the CPU time the host took from this virtual machine
// meanwhile (steal), and for the verdicts that came after the deadline, when they came and
// how their work thread spent the time before them (VerdictTrace). Last: the highest rate
// with no pairing error, no product cut wrongly and no verdict too late for its product.
// --flat 1 compares with the station as it was: every thread at the same priority, OpenCV's
// thread pool on every core (needs root for the inspection threads to get back their
// priority). As on the station, the main thread, which runs the chain's event loop, polls
// the PLC once a second (StationControl::tick): a PLC simulator with DIR's conf/modbus.txt
// and plc.txt on a pseudo-terminal, answering as a 9600-baud line with a 10 ms scan
// (--plc-baud N, 0 = instant; --plc off: no poll). Per rate: how many polls ran and how
// long they took. --save 1 or 2 saves images as the station's SAVE does (NG images; and a
// sample of whole frames) through its saving thread, into a temporary station folder (the
// model, conf and warm-up picture linked from DIR) that is removed at the end; per rate:
// images saved, not written, and dropped because the save queue was full. --slow-disk MS
// makes every image take MS ms longer to write, as a disk that does not keep up.
#include "BenchOptions.h"
#include "BenchRecipe.h"
#include "CpuTime.h"
#include "EjectionChain.h"
#include "GeneratedFrameSource.h"
#include "GlueDotDetector.h"
#include "LineSimulator.h"
#include "LoginSession.h"
#include "MatMetaType.h"
#include "ModbusLink.h"
#include "PlcAddrMap.h"
#include "PlcSimulator.h"
#include "SaveThread.h"
#include "SimCamera.h"
#include "StationControl.h"
#include "StationPaths.h"
#include "StationQueues.h"
#include "SysConf.h"
#include "VerdictTrace.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QDir>
#include <QFileInfo>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>

#include <opencv2/core/utility.hpp>

#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>

namespace {
long peakRssMb()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss / 1024;
}

// A station folder in work whose images are its own: bin/ with the warm-up picture, the
// model and conf linked from the given station, data/ empty.
bool layOutSavingStation(const QString &station, const QTemporaryDir &work)
{
    const QString bin = work.filePath("bin");
    return work.isValid() && QDir().mkpath(bin) && QDir().mkpath(work.filePath("data/image"))
        && QFile::link(QFileInfo(station + "/model").absoluteFilePath(), work.filePath("model"))
        && QFile::link(QFileInfo(station + "/conf").absoluteFilePath(), work.filePath("conf"))
        && QFile::link(QFileInfo(station + "/bin/alg_jd.jpg").absoluteFilePath(), bin + "/alg_jd.jpg");
}
} // namespace

int main(int argc, char *argv[])
{
    qRegisterMetaType<cv::Mat>("cv::Mat");
    QCoreApplication app(argc, argv);
    QString station = QStringLiteral(GLUEBOX_SOURCE_DIR "/station");
    int seconds = 60;
    int cameras = 2;
    bool flat = false;
    bool plcPolled = true;
    int plcBaud = 9600;
    double ngShare = 0.1;
    int save = 0;
    int slowDiskMs = 0;
    QString vendor = "HIK";
    QList<int> rates{600, 800, 1000, 1200, 1400};
    const QStringList args = app.arguments();
    if (!optionsKnown(argc, argv,
                      {"--station", "--seconds", "--cameras", "--vendor", "--flat", "--plc", "--plc-baud", "--ng",
                       "--save", "--slow-disk", "--rates"},
                      "bench_line [--station DIR] [--seconds S] [--rates 600,800,...] [--cameras N]\n"
                      "         [--vendor HIK|Basler|Balluff] [--flat 1] [--ng SHARE] [--plc-baud N | --plc off]\n"
                      "         [--save 0|1|2 [--slow-disk MS]]"))
        return 2;
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == "--station")
            station = args[i + 1];
        else if (args[i] == "--seconds")
            seconds = args[i + 1].toInt();
        else if (args[i] == "--cameras")
            cameras = args[i + 1].toInt();
        else if (args[i] == "--vendor")
            vendor = args[i + 1];
        else if (args[i] == "--flat")
            flat = args[i + 1].toInt() != 0;
        else if (args[i] == "--plc")
            plcPolled = args[i + 1] != "off";
        else if (args[i] == "--plc-baud")
            plcBaud = args[i + 1].toInt();
        else if (args[i] == "--ng")
            ngShare = args[i + 1].toDouble();
        else if (args[i] == "--save")
            save = args[i + 1].toInt();
        else if (args[i] == "--slow-disk")
            slowDiskMs = args[i + 1].toInt();
        else if (args[i] == "--rates") {
            rates.clear();
            for (const QString &r : args[i + 1].split(','))
                rates << r.toInt();
        }
    }
    if (plcBaud != 0 && (plcBaud < PlcSimulator::kMinBaud || plcBaud > PlcSimulator::kMaxBaud)) {
        std::fprintf(stderr, "--plc-baud takes 0 (instant) or %d to %d\n", PlcSimulator::kMinBaud,
                     PlcSimulator::kMaxBaud);
        return 1;
    }
    if (save < 0 || save > 2) {
        std::fprintf(stderr, "--save takes 0, 1 or 2\n");
        return 1;
    }
    if (!QFileInfo(station + "/bin").isDir()) {
        std::fprintf(stderr, "no station folder at %s\n", qPrintable(station));
        return 1;
    }
    // Removed at the end, with every image saved into it.
    QTemporaryDir work(QDir::tempPath() + "/bench_line-XXXXXX");
    if (save > 0 && !layOutSavingStation(station, work)) {
        std::fprintf(stderr, "cannot lay out a station folder in %s\n", qPrintable(work.path()));
        return 1;
    }
    QDir::setCurrent(save > 0 ? work.filePath("bin") : station + "/bin");

    setBenchRecipe(save);

    SimulatedStation::Settings settings = SimulatedStation::defaults();
    SimCamera::Config camera;
    if (!SimulatedStation::parseCamera(
            QString("%1|%1|255|GigE|728|544|Mono8|").arg(vendor).toStdString(), camera)) {
        std::fprintf(stderr, "unknown vendor %s\n", qPrintable(vendor));
        return 1;
    }
    settings.cameras.assign(cameras, camera);
    settings.shots = 3;
    settings.ngShare = ngShare;
    settings.dotsPerImage = 5;
    settings.source = "generated";
    if (flat) {
        qputenv("GLUEBOX_REALTIME", "0"); // before any capture thread asks for it
        // OpenCV's pool over every core, set before the line's threads use OpenCV.
        GlueDotDetector::chooseBackend();
        cv::setNumThreads(-1);
    }
    EjectionChain chain(settings);
    VerdictTrace trace;
    chain.setReporter([&trace](const ProductReport &r) { trace.add(r); });
    // The station's saving thread on the station's save queue, as the window starts it.
    std::unique_ptr<SaveThread> saver;
    std::atomic<long> written{0}, notWritten{0};
    if (save > 0) {
        saver = std::make_unique<SaveThread>(g_save_queue);
        if (slowDiskMs > 0)
            saver->setWriter([slowDiskMs](const SaveRequest &request) {
                QThread::msleep(static_cast<unsigned long>(slowDiskMs));
                return SaveThread::writeImage(request);
            });
        QObject::connect(saver.get(), &SaveThread::requestHandled, saver.get(),
                         [&](const QString &, bool ok) { ++(ok ? written : notWritten); }, Qt::DirectConnection);
        saver->start(QThread::HighestPriority);
    }
    if (!chain.open()) {
        std::fprintf(stderr, "the cameras or the model could not be opened\n");
        return 1;
    }
    if (flat) {
        QDirIterator tasks("/proc/self/task");
        int reset = 0;
        while (tasks.hasNext()) {
            const QString tid = QFileInfo(tasks.next()).fileName();
            if (tid.toInt() > 0 && setpriority(PRIO_PROCESS, id_t(tid.toInt()), 0) == 0)
                ++reset;
        }
        std::printf("flat: every thread at nice 0 (%d), OpenCV on %d threads\n", reset,
                    cv::getNumThreads());
    }

    // The station's own poll of its PLC, on this thread, once a second.
    PlcAddrMap plcAddr;
    SysConf plcConf; // no automatic shift: it would pause the line
    plcConf.AUTO_SHIFT = 0;
    plcConf.TIMING_SHIFT = 0;
    std::unique_ptr<PlcSimulator> plc;
    ModbusLink link;
    LoginSession session;
    std::unique_ptr<StationControl> control;
    QTimer poll;
    DelayStats pollTime;
    PlcSimulator::Options plcOptions;
    plcOptions.baud = plcBaud;
    plcOptions.scanMs = 10;
    if (plcPolled) {
        if (!readPlcAddrMap(plcAddr)) {
            std::fprintf(stderr, "no PLC address map in %s/conf\n", qPrintable(station));
            return 1;
        }
        plc = std::make_unique<PlcSimulator>(
            plcAddr, PlcSimulator::readParameters(StationPaths::plcParamFile()), plcOptions);
        QString error;
        if (!plc->openPseudoTerminal(&error) || !plc->start() || !link.openLink(plc->devicePath())) {
            std::fprintf(stderr, "the PLC simulator could not be reached: %s\n", qPrintable(error));
            return 1;
        }
        control = std::make_unique<StationControl>(&link, plcAddr, plcConf, session, StationHooks());
        QObject::connect(&poll, &QTimer::timeout, [&] {
            const auto t0 = std::chrono::steady_clock::now();
            control->tick();
            pollTime.add(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
        });
        poll.start(1000);
    }

    std::printf("%d %s camera(s), 3 shots per product, %d s per rate, %ld cores; PLC %s\n", cameras,
                qPrintable(vendor), seconds, sysconf(_SC_NPROCESSORS_ONLN),
                plcPolled ? qPrintable(PlcSimulator::timingText(plcOptions) + QStringLiteral(", polled once a second"))
                          : "not polled");
    if (save > 0)
        std::printf("SAVE=%d: images saved under %s, removed at the end%s\n", save,
                    qPrintable(work.filePath("data/image")),
                    slowDiskMs > 0 ? qPrintable(QStringLiteral("; each write %1 ms slower").arg(slowDiskMs)) : "");

    int held = 0;
    for (int rate : rates) {
        SimulatedStation &st = chain.station();
        for (int c = 0; c < st.cameraCount(); ++c)
            st.camera(c)->clearTimings();
        st.line().clearTimings();
        chain.verdictLatency().clear();
        pollTime.clear();
        const auto *generated = dynamic_cast<const GeneratedFrameSource *>(&st.source());
        const GeneratedFrameSource::Tally pictures0 = generated ? generated->tally() : GeneratedFrameSource::Tally();
        const long written0 = written, notWritten0 = notWritten;
        const unsigned long long dropped0 = g_save_queue->refused();
        g_save_queue->resetHighWater();
        trace.begin();
        const double cpu0 = processCpuSeconds(), stolen0 = stolenSeconds();
        const auto wall0 = std::chrono::steady_clock::now();
        const std::vector<EjectionChain::Step> steps = chain.run(rate, seconds * 1000);
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
        const double cores = (processCpuSeconds() - cpu0) / wall;
        const GeneratedFrameSource::Tally pictures = generated ? generated->tally() : GeneratedFrameSource::Tally();
        const double drawingCores = (pictures.drawingCpuSeconds - pictures0.drawingCpuSeconds) / wall;

        std::printf("\n%d products/min per camera\n", rate);
        bool clean = true;
        for (size_t k = 0; k < steps.size(); ++k) {
            const EjectionChain::Step &s = steps[k];
            std::printf("  %zu#: products %d ng %d | ejected-right %d ng-missed %d good-ejected %d"
                        " | cut-wrongly %d late %d | pairing errors %d | the model's own mistakes:"
                        " %d missed, %d false alarms | the line's account: judged-wrong %d"
                        " paired-wrong %d\n",
                        k + 1, s.products, s.ng, s.ejectedRight, s.ngMissed, s.goodEjected,
                        s.cutWrongly, s.late, s.pairingErrors, s.modelMisses, s.modelFalseAlarms,
                        s.lineJudgedWrong, s.linePairedWrong);
            // Held: every product paired right, cut right and judged in time.
            clean = clean && s.pairingErrors == 0 && s.cutWrongly == 0 && s.unjudged == 0
                    && s.products > 0;
        }
        const DelayStats &lat = chain.verdictLatency();
        const double deadlineMs = 1.4 * 60000.0 / rate;
        std::printf("  verdict latency (falling edge -> verdict ready): median %.1f ms, p99 %.1f ms,"
                    " max %.1f ms; deadline %.0f ms\n",
                    lat.percentileMs(0.5), lat.percentileMs(0.99), lat.maxMs(), deadlineMs);
        trace.print(deadlineMs);
        if (plcPolled)
            std::printf("  PLC polls %llu, median %.1f ms, max %.1f ms\n",
                        static_cast<unsigned long long>(pollTime.count()), pollTime.percentileMs(0.5),
                        pollTime.maxMs());
        if (save > 0)
            std::printf("  images: saved %ld, not written %ld, dropped at a full save queue %llu; save queue"
                        " high water %d of %d\n",
                        written - written0, notWritten - notWritten0, g_save_queue->refused() - dropped0,
                        g_save_queue->highWater(), SyncQueue<SaveRequest>::kCapacity);
        std::printf("  cpu %.2f cores (%.0f %% of the machine), of which drawing pictures at idle"
                    " priority %.2f; peak resident %ld MB; taken by the host (steal) %.2f s\n",
                    cores, 100.0 * cores / sysconf(_SC_NPROCESSORS_ONLN), drawingCores, peakRssMb(),
                    stolenSeconds() - stolen0);
        if (generated)
            std::printf("  pictures: shown %llu, distinct good %llu ng %llu, drawn %llu\n",
                        static_cast<unsigned long long>(pictures.shown - pictures0.shown),
                        static_cast<unsigned long long>(pictures.distinct[0] - pictures0.distinct[0]),
                        static_cast<unsigned long long>(pictures.distinct[1] - pictures0.distinct[1]),
                        static_cast<unsigned long long>(pictures.drawn[0] + pictures.drawn[1] - pictures0.drawn[0]
                                                        - pictures0.drawn[1]));
        for (int c = 0; c < st.cameraCount(); ++c) {
            const SimCamera *cam = st.camera(c);
            std::printf("  camera %d: frame waits for the grab loop p99 %.1f max %.1f ms; edge waits"
                        " for the callback thread p99 %.1f max %.1f ms; falling edges with frames"
                        " still in the camera %llu\n",
                        c, cam->grabWait().percentileMs(0.99), cam->grabWait().maxMs(),
                        cam->eventWait().percentileMs(0.99), cam->eventWait().maxMs(),
                        static_cast<unsigned long long>(cam->edgesWithUngrabbedFrames()));
        }
        std::printf("  line clock: woke late p99 %.1f max %.1f ms; pictures per product max %.1f ms\n",
                    st.line().clockLateness().percentileMs(0.99), st.line().clockLateness().maxMs(),
                    st.line().sourceTime().maxMs());
        std::fflush(stdout);
        if (clean && rate > held)
            held = rate;
    }
    std::printf("\nhighest rate held: %d products/min per camera\n", held);
    saver.reset(); // writes what is queued, before its folder goes
    return 0;
}
