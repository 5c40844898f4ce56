// A long run of the station on the real-time simulated line.
//   bench_soak [--minutes M] [--rate R] [--report S] [--station DIR]
// Two HIK cameras at R products/min each (default 1,000) for M minutes (default 30), three
// shots per product, the shipped model, recipe 5|5|5, 10 % bad products, NG images saved
// (SAVE 1) into a throw-away copy of the station folder. Every S seconds (default 60) and
// at the end: products, pairing errors, products cut wrongly and late, the
// queues' high-water marks, verdict latency p99, resident memory and files written. The
// resident memory at the end against the first report says whether anything grows. Beside
// them, what the host did to the run: how late the line's own clock woke at worst (a
// packing machine never waits; the line's thread runs at real-time priority, so over a few
// ms means the machine held everything up), the longest a camera's event took from the
// line's edge until its callback returned (a reject pulse is given in it), and the page
// faults that waited for the disk. Ends with 2 on a pairing error in a quiet report. One
// in a report where the host held the line's clock or an edge's callback up over half a
// product period, or in the report after it (the box reaches the ejector two windows on),
// is counted apart: the simulated cameras' edges carry no time of their own, so a station
// held up that long cannot tell that its pulse comes late.
#include "BenchOptions.h"
#include "BenchRecipe.h"
#include "EjectionChain.h"
#include "MatMetaType.h"
#include "SaveThread.h"
#include "StationQueues.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>

namespace {
long residentMb()
{
    QFile statm("/proc/self/statm");
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> f = statm.readAll().split(' ');
    return f.size() > 1 ? f[1].toLong() * sysconf(_SC_PAGESIZE) / (1024 * 1024) : -1;
}

long majorFaults()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_majflt;
}

bool copyTree(const QString &from, const QString &to)
{
    QDirIterator it(from, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        const QString target = to + file.mid(from.size());
        QDir().mkpath(QFileInfo(target).path());
        if (!QFile::copy(file, target))
            return false;
    }
    return true;
}
} // namespace

int main(int argc, char *argv[])
{
    qRegisterMetaType<cv::Mat>("cv::Mat");
    QCoreApplication app(argc, argv);
    double minutes = 30;
    int rate = 1000;
    int reportSeconds = 60;
    QString station = QStringLiteral(GLUEBOX_SOURCE_DIR "/station");
    if (!optionsKnown(argc, argv, {"--minutes", "--rate", "--report", "--station"},
                      "bench_soak [--minutes M] [--rate R] [--report S] [--station DIR]"))
        return 2;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == "--minutes")
            minutes = args[i + 1].toDouble();
        else if (args[i] == "--rate")
            rate = args[i + 1].toInt();
        else if (args[i] == "--report")
            reportSeconds = args[i + 1].toInt();
        else if (args[i] == "--station")
            station = args[i + 1];
    }
    QTemporaryDir work;
    if (!copyTree(station + "/model", work.filePath("model"))
        || !copyTree(station + "/bin", work.filePath("bin")) || !QDir().mkpath(work.filePath("data/image"))
        || !QDir::setCurrent(work.filePath("bin"))) {
        std::fprintf(stderr, "cannot lay out a station folder from %s\n", qPrintable(station));
        return 1;
    }

    setBenchRecipe(1);

    SimulatedStation::Settings settings = SimulatedStation::defaults();
    settings.ngShare = 0.1;
    settings.dotsPerImage = 5;
    EjectionChain chain(settings);
    std::atomic<int> written{0}, failed{0};
    SaveThread saver(g_save_queue);
    QObject::connect(&saver, &SaveThread::requestHandled, &saver,
                     [&](const QString &, bool ok) { ++(ok ? written : failed); }, Qt::DirectConnection);
    saver.start(QThread::HighestPriority);
    if (!chain.open()) {
        std::fprintf(stderr, "the cameras or the model could not be opened\n");
        return 1;
    }
    std::printf("2 cameras at %d products/min each for %.1f min, NG images saved\n", rate, minutes);
    std::printf("%6s %9s %8s %4s %4s %11s %10s %8s %7s %7s | %12s %12s %7s\n", "min", "products", "pairing",
                "cut", "late", "queues max", "p99 ms", "rss MB", "files", "failed", "line late ms", "edge late ms",
                "majflt");

    chain.begin(rate);
    QElapsedTimer clock;
    clock.start();
    long firstRss = -1;
    long faults = majorFaults();
    SimulatedStation &simulated = chain.station();
    auto clearTimings = [&] {
        simulated.line().clearTimings();
        for (int c = 0; c < simulated.cameraCount(); ++c)
            simulated.camera(c)->clearTimings();
    };
    clearTimings();
    const double halfPeriodMs = 30000.0 / rate;
    int pairingSeen = 0, pairingQuiet = 0, pairingStalled = 0;
    bool stalledBefore = false;
    auto report = [&](const std::vector<EjectionChain::Step> &steps) {
        int products = 0, pairing = 0, cut = 0, late = 0;
        for (const auto &s : steps) {
            products += s.products;
            pairing += s.pairingErrors;
            cut += s.cutWrongly;
            late += s.late;
        }
        int imageHigh = 0;
        for (int p : chain.positions()) {
            imageHigh = std::max(imageHigh, g_image_queue[p]->highWater());
            g_image_queue[p]->resetHighWater();
        }
        const int saveHigh = g_save_queue->highWater();
        g_save_queue->resetHighWater();
        const long rss = residentMb();
        if (firstRss < 0)
            firstRss = rss;
        const long faultsNow = majorFaults();
        const double lineLateMs = simulated.line().clockLateness().maxMs();
        double edgeLateMs = 0;
        for (int c = 0; c < simulated.cameraCount(); ++c)
            edgeLateMs = std::max(edgeLateMs, simulated.camera(c)->eventHandled().maxMs());
        const bool stalled = lineLateMs > halfPeriodMs || edgeLateMs > halfPeriodMs;
        ((stalled || stalledBefore) ? pairingStalled : pairingQuiet) += pairing - pairingSeen;
        pairingSeen = pairing;
        stalledBefore = stalled;
        std::printf("%6.1f %9d %8d %4d %4d %5d/%-5d %10.1f %8ld %7d %7d | %12.1f %12.1f %7ld\n",
                    clock.elapsed() / 60000.0, products, pairing, cut, late, imageHigh, saveHigh,
                    chain.verdictLatency().percentileMs(0.99), rss, int(written), int(failed), lineLateMs,
                    edgeLateMs, faultsNow - faults);
        std::fflush(stdout);
        chain.verdictLatency().clear();
        clearTimings();
        faults = faultsNow;
    };
    const qint64 total = qint64(minutes * 60000);
    // Reports on a fixed schedule, the last one at the end of the run.
    for (qint64 next = reportSeconds * 1000LL;; next += reportSeconds * 1000LL) {
        QEventLoop wait;
        QTimer::singleShot(int(std::max<qint64>(0, std::min(next, total) - clock.elapsed())), &wait,
                           &QEventLoop::quit);
        wait.exec();
        if (next >= total)
            break;
        report(chain.tally());
    }
    report(chain.end());
    std::printf("queues max: image queues / save queue (of %d); latency: falling edge -> verdict; "
                "line late: the line's own clock at worst; edge late: a line edge until its callback returned, at "
                "worst; majflt: page faults that read the disk\n",
                SyncQueue<FrameRecord>::kCapacity);
    std::printf("resident memory: %ld MB at the first report, %ld MB at the end\n", firstRss,
                residentMb());
    std::printf("pairing errors: %d in quiet reports, %d where the host held the line or an edge up over %.0f ms "
                "(half a product) or just after\n",
                pairingQuiet, pairingStalled, halfPeriodMs);
    return pairingQuiet == 0 ? 0 : 2;
}
