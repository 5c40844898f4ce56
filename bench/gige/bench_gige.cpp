// Real GigE Vision on loopback, at a line rate.
//   bench_gige [--seconds S] [--ppm R] [--cameras N] [--shots N] [--station 0|1]
// Runs inside scripts/in-netns.sh only (GigE Vision discovery broadcasts).
//
// Part 1, the link: N simulated GigE Vision cameras (tools/gigecam, each a process of its
// own, pattern pictures, 728 x 544 Mono8) run their lines at R products/min with N shots
// a product, triggered on Line0. This process receives them as the station does
// (AravisCamera: packet size found, products grouped from the frames) and prints, per
// camera: the latency from each shot's trigger (the camera stamps its frame with it) to
// its frame handed over with its product, for every frame and for a product's last one;
// the frames, incomplete frames and products cut short; and the CPU per frame of the
// receiving side (this process) beside the cameras' own.
//
// Part 2, the station (--station 1, the default): the whole station (bin/gluebox, on
// Qt's offscreen platform) with the same cameras, now drawing generated boxes (5 dots a
// picture, recipe 5|5|5, 10 % bad), and the PLC simulator. After S seconds of work the
// station is stopped as with Ctrl+C; the line account is the station's own (frames,
// products not judged, verdicts late or not queued, decided by MISMATCHACT) beside what
// each camera's ejector saw (bad boxes ejected, missed, good ones ejected, stray pulses).
#include "AravisCamera.h"
#include "BenchOptions.h"
#include "CpuTime.h"
#include "DelayStats.h"
#include "LoopbackOnly.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

namespace {

const QString kBin = QStringLiteral(GLUEBOX_BINARY_DIR "/bin/");

uint64_t wallNs()
{
    return uint64_t(std::chrono::duration_cast<std::chrono::nanoseconds>(
                        std::chrono::system_clock::now().time_since_epoch())
                        .count());
}

struct Options
{
    int seconds = 30;
    double ppm = 1000;
    int cameras = 2;
    int shots = 3;
    bool station = true;
};

// The simulated cameras, one process each, on 127.0.0.2, .3, ...
class Cameras
{
public:
    Cameras(const Options &o, const QStringList &extra, const QString &reportDir)
    {
        for (int c = 0; c < o.cameras; ++c) {
            auto p = std::make_unique<QProcess>();
            p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
            QStringList args = {"--address", QStringLiteral("127.0.0.%1").arg(c + 2),
                                "--serial", QStringLiteral("BG%1").arg(11 + c),
                                "--user-id", QString::number(11 + c),
                                "--ppm", QString::number(o.ppm), "--shots", QString::number(o.shots),
                                "--seed", QString::number(7 + c),
                                // A frame per 5 ms tick at most: shots 12 ms apart at 1,000
                                // products/min need more than the default 100 Hz.
                                "--tick-hz", "200",
                                "--report", reportDir + QStringLiteral("/camera%1.txt").arg(c + 1)};
            p->start(kBin + "gigecam", args + extra);
            m_processes.push_back(std::move(p));
        }
    }
    ~Cameras() { stop(); }
    bool started()
    {
        for (auto &p : m_processes)
            if (!p->waitForStarted(5000))
                return false;
        return true;
    }
    double cpuSeconds() const
    {
        double s = 0;
        for (const auto &p : m_processes)
            s += statCpuSeconds(QStringLiteral("/proc/%1/stat").arg(p->processId()));
        return s;
    }
    void stop()
    {
        for (auto &p : m_processes)
            if (p->state() != QProcess::NotRunning)
                p->terminate();
        for (auto &p : m_processes)
            if (!p->waitForFinished(10000))
                p->kill();
    }

private:
    std::vector<std::unique_ptr<QProcess>> m_processes;
};

// The camera's summary line, as key=value pairs.
QMap<QString, qulonglong> summaryOf(const QString &report)
{
    QMap<QString, qulonglong> values;
    QFile f(report);
    if (!f.open(QIODevice::ReadOnly))
        return values;
    QString last;
    while (!f.atEnd()) {
        const QString line = QString::fromUtf8(f.readLine());
        if (line.startsWith("summary "))
            last = line.trimmed();
    }
    for (const QString &pair : last.split(' ', Qt::SkipEmptyParts)) {
        const int eq = pair.indexOf('=');
        if (eq > 0)
            values[pair.left(eq)] = pair.mid(eq + 1).toULongLong();
    }
    return values;
}

std::vector<AravisCamera::Info> waitForCameras(int n)
{
    std::vector<AravisCamera::Info> found;
    for (int i = 0; i < 50 && int(found.size()) < n; ++i) {
        QThread::msleep(200);
        found.clear();
        for (const AravisCamera::Info &info : AravisCamera::list())
            if (info.serial.rfind("BG", 0) == 0)
                found.push_back(info);
    }
    std::sort(found.begin(), found.end(), [](const auto &a, const auto &b) { return a.serial < b.serial; });
    return found;
}

int benchLink(const Options &o)
{
    QTemporaryDir reports;
    Cameras sims(o, {"--source", "pattern"}, reports.path());
    if (!sims.started()) {
        std::fprintf(stderr, "bench_gige: %s does not start\n", qPrintable(kBin + "gigecam"));
        return 1;
    }
    const std::vector<AravisCamera::Info> infos = waitForCameras(o.cameras);
    if (int(infos.size()) < o.cameras) {
        std::fprintf(stderr, "bench_gige: %zu of %d cameras found\n", infos.size(), o.cameras);
        return 1;
    }
    struct Receiver
    {
        std::unique_ptr<AravisCamera> camera;
        std::thread thread;
        std::atomic<bool> measuring{false};
        std::atomic<bool> stop{false};
        DelayStats frameMs, productMs; // trigger to handed over
    };
    std::vector<std::unique_ptr<Receiver>> receivers;
    for (const AravisCamera::Info &info : infos) {
        auto r = std::make_unique<Receiver>();
        std::string error;
        r->camera = AravisCamera::open(info, &error);
        if (!r->camera) {
            std::fprintf(stderr, "bench_gige: %s: %s\n", info.serial.c_str(), error.c_str());
            return 1;
        }
        AravisCamera &cam = *r->camera;
        cam.autoPacketSize();
        const bool set = cam.setString("TriggerSelector", "FrameStart") && cam.setString("TriggerMode", "On")
                         && cam.setString("TriggerSource", "Line0")
                         && cam.setString("TriggerActivation", "RisingEdge");
        if (!set) {
            std::fprintf(stderr, "bench_gige: %s: %s\n", info.serial.c_str(), cam.lastError().c_str());
            return 1;
        }
        cam.setShotsPerProduct(o.shots);
        if (!cam.startGrabbing()) {
            std::fprintf(stderr, "bench_gige: %s: %s\n", info.serial.c_str(), cam.lastError().c_str());
            return 1;
        }
        Receiver *raw = r.get();
        r->thread = std::thread([raw, shots = o.shots] {
            AravisCamera::Frame f;
            int inProduct = 0;
            while (!raw->stop) {
                if (!raw->camera->nextFrame(f, 200))
                    continue;
                const double ms = double(int64_t(wallNs() - f.timeNs)) / 1e6;
                inProduct = (inProduct + 1) % shots;
                if (!raw->measuring)
                    continue;
                raw->frameMs.add(ms);
                if (inProduct == 0)
                    raw->productMs.add(ms);
            }
        });
        receivers.push_back(std::move(r));
    }

    // The rhythm is learnt in the first products; then the measured span.
    QThread::msleep(3000);
    std::vector<AravisCamera::Counters> before;
    for (auto &r : receivers) {
        before.push_back(r->camera->counters());
        r->measuring = true;
    }
    const double cpu0 = processCpuSeconds(), simCpu0 = sims.cpuSeconds();
    QThread::msleep(unsigned(o.seconds) * 1000);
    const double cpu = processCpuSeconds() - cpu0, simCpu = sims.cpuSeconds() - simCpu0;
    std::vector<AravisCamera::Counters> after;
    for (auto &r : receivers) {
        r->measuring = false;
        after.push_back(r->camera->counters());
    }
    for (auto &r : receivers) {
        r->stop = true;
        r->thread.join();
        r->camera->stopGrabbing();
        r->camera.reset();
    }
    sims.stop();

    std::printf("The link: %d cameras x %d shots at %g products/min, %d s (after 3 s to learn the rhythm)\n",
                o.cameras, o.shots, o.ppm, o.seconds);
    std::printf("%-8s %8s %8s %9s %10s | %-22s | %-22s\n", "camera", "frames", "broken", "products",
                "cut short", "trigger->frame ms", "last trigger->product");
    std::printf("%-8s %8s %8s %9s %10s | %7s %7s %6s | %7s %7s %6s\n", "", "", "", "", "", "median", "p99",
                "max", "median", "p99", "max");
    uint64_t frames = 0;
    for (size_t c = 0; c < receivers.size(); ++c) {
        const Receiver &r = *receivers[c];
        frames += after[c].frames - before[c].frames;
        std::printf("%-8s %8llu %8llu %9llu %10llu | %7.1f %7.1f %6.1f | %7.1f %7.1f %6.1f\n",
                    infos[c].serial.c_str(), (unsigned long long)(after[c].frames - before[c].frames),
                    (unsigned long long)(after[c].incomplete - before[c].incomplete),
                    (unsigned long long)(after[c].products - before[c].products),
                    (unsigned long long)(after[c].cutShort - before[c].cutShort), r.frameMs.percentileMs(0.5),
                    r.frameMs.percentileMs(0.99), r.frameMs.maxMs(), r.productMs.percentileMs(0.5),
                    r.productMs.percentileMs(0.99), r.productMs.maxMs());
    }
    for (int c = 0; c < o.cameras; ++c) {
        const auto s = summaryOf(reports.filePath(QStringLiteral("camera%1.txt").arg(c + 1)));
        std::printf("camera %d sent %llu frames for %llu shots (%llu triggers waited for an earlier frame)\n",
                    c + 1, s.value("frames"), s.value("shots"), s.value("trigger-overruns"));
    }
    if (frames > 0)
        std::printf("CPU per frame: receiving %.2f ms (%.1f %% of a core), the simulated cameras %.2f ms\n",
                    1000.0 * cpu / double(frames), 100.0 * cpu / o.seconds, 1000.0 * simCpu / double(frames));
    std::fflush(stdout);
    return 0;
}

bool replaceIn(const QString &path, const QList<QPair<QRegularExpression, QString>> &edits)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    QString text = QString::fromLatin1(f.readAll());
    f.close();
    for (const auto &e : edits)
        text.replace(e.first, e.second);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(text.toLatin1()) == text.size();
}

int benchStation(const Options &o)
{
    QTemporaryDir work;
    const QString station = work.filePath("station");
    if (QProcess::execute(QStringLiteral(GLUEBOX_SOURCE_DIR "/scripts/make-station.sh"),
                          {QStringLiteral(GLUEBOX_BINARY_DIR), station})
        != 0) {
        std::fprintf(stderr, "bench_gige: cannot lay out a station folder\n");
        return 1;
    }
    QFile::remove(station + "/conf/camsim.txt"); // real cameras only: the simulated GigE ones
    QList<QPair<QRegularExpression, QString>> edits;
    for (int c = 1; c <= o.cameras; ++c) {
        edits.append({QRegularExpression(QStringLiteral("^USERID%1=.*$").arg(c), QRegularExpression::MultilineOption),
                      QStringLiteral("USERID%1=%2").arg(c).arg(10 + c)});
        edits.append({QRegularExpression(QStringLiteral("^NO%1=.*$").arg(c), QRegularExpression::MultilineOption),
                      QStringLiteral("NO%1=5|5|5").arg(c)});
        edits.append({QRegularExpression(QStringLiteral("^SHOOT%1=.*$").arg(c), QRegularExpression::MultilineOption),
                      QStringLiteral("SHOOT%1=%2").arg(c).arg(o.shots)});
    }
    edits.append({QRegularExpression("^AUTO_WORK=.*$", QRegularExpression::MultilineOption), "AUTO_WORK=1"});
    edits.append({QRegularExpression("^MISMATCHACT=.*$", QRegularExpression::MultilineOption), "MISMATCHACT=1"});
    if (!replaceIn(station + "/conf/conf.txt", edits)) {
        std::fprintf(stderr, "bench_gige: cannot write the station's conf.txt\n");
        return 1;
    }

    QProcess plc;
    plc.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const QString link = work.filePath("plc-port");
    plc.setStandardOutputFile(QProcess::nullDevice());
    plc.start(kBin + "plcsim", {"--station", station, "--link", link, "--rate", QString::number(o.ppm / 60.0)});
    for (int i = 0; i < 50 && !QFile::exists(link); ++i)
        QThread::msleep(100);
    if (!QFile::exists(link)) {
        std::fprintf(stderr, "bench_gige: the PLC simulator does not start\n");
        return 1;
    }
    Cameras sims(o, {"--source", "generated", "--dots", "5", "--ng-share", "0.1"}, work.path());
    if (!sims.started() || int(waitForCameras(o.cameras).size()) < o.cameras) {
        std::fprintf(stderr, "bench_gige: the cameras do not start\n");
        return 1;
    }

    QProcess gluebox;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("GLUEBOX_PLC_PORT", link);
    env.insert("QT_QPA_PLATFORM", "offscreen");
    gluebox.setProcessEnvironment(env);
    gluebox.setWorkingDirectory(station + "/bin");
    gluebox.setProcessChannelMode(QProcess::MergedChannels);
    gluebox.start(station + "/bin/gluebox", QStringList());
    if (!gluebox.waitForStarted(10000)) {
        std::fprintf(stderr, "bench_gige: the station does not start\n");
        return 1;
    }
    // Work starts once the station has opened its cameras and warmed its detectors up.
    QByteArray output;
    const auto readUntil = [&](const QByteArray &text, int ms) {
        for (int waited = 0; waited < ms && !output.contains(text); waited += 100)
            if (gluebox.waitForReadyRead(100))
                output += gluebox.readAll();
        return output.contains(text);
    };
    const bool working = readUntil("camera 1#:", 60000); // its first account, 10 s after the cameras opened
    const QString stationStat = QStringLiteral("/proc/%1/stat").arg(gluebox.processId());
    const double cpu0 = statCpuSeconds(stationStat);
    const double simCpu0 = sims.cpuSeconds();
    for (int waited = 0; waited < o.seconds * 1000; waited += 100)
        if (gluebox.waitForReadyRead(100))
            output += gluebox.readAll();
    const double cpu = statCpuSeconds(stationStat) - cpu0, simCpu = sims.cpuSeconds() - simCpu0;
    ::kill(pid_t(gluebox.processId()), SIGINT); // as Ctrl+C: the station ends in order
    if (!gluebox.waitForFinished(30000))
        gluebox.kill();
    output += gluebox.readAll();
    sims.stop();
    plc.terminate();
    plc.waitForFinished(5000);

    std::printf("\nThe station: %d cameras x %d shots at %g products/min, about %d s of work%s\n", o.cameras,
                o.shots, o.ppm, o.seconds + 10, working ? "" : " (the station's first account never came)");
    // The station's last account per camera: the one printed as it stopped.
    const QStringList lines = QString::fromUtf8(output).split('\n');
    for (int c = 1; c <= o.cameras; ++c) {
        QString last;
        for (const QString &l : lines)
            if (l.startsWith(QStringLiteral("camera %1#:").arg(c)))
                last = l;
        std::printf("station  %s\n", qPrintable(last.isEmpty() ? QStringLiteral("camera %1#: no account").arg(c) : last));
        const auto s = summaryOf(work.filePath(QStringLiteral("camera%1.txt").arg(c)));
        std::printf("ejector  camera %d#: %llu boxes past it, %llu bad: %llu ejected, %llu missed; %llu good ejected;"
                    " %llu stray pulses\n",
                    c, s.value("judged"), s.value("ng"), s.value("correct"), s.value("missed"), s.value("wrong"),
                    s.value("stray-pulses"));
    }
    std::printf("CPU: the station %.0f %% of a core, the simulated cameras %.0f %% (of %ld cores)\n",
                100.0 * cpu / o.seconds, 100.0 * simCpu / o.seconds, sysconf(_SC_NPROCESSORS_ONLN));
    std::fflush(stdout);
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    Options o;
    if (!optionsKnown(argc, argv, {"--seconds", "--ppm", "--cameras", "--shots", "--station"},
                      "bench_gige [--seconds S] [--ppm R] [--cameras N] [--shots N] [--station 0|1]"))
        return 2;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        const QString &k = args[i], &v = args[i + 1];
        if (k == "--seconds")
            o.seconds = v.toInt();
        else if (k == "--ppm")
            o.ppm = v.toDouble();
        else if (k == "--cameras")
            o.cameras = v.toInt();
        else if (k == "--shots")
            o.shots = v.toInt();
        else if (k == "--station")
            o.station = v != "0";
    }
    if (o.seconds < 1 || o.ppm <= 0 || o.cameras < 1 || o.cameras > 4 || o.shots < 1) {
        std::fprintf(stderr, "bench_gige: seconds >= 1, ppm > 0, 1 to 4 cameras, shots >= 1\n");
        return 2;
    }
    if (!loopbackOnly()) {
        std::fprintf(stderr, "bench_gige: GigE Vision discovery must not leave the machine: run it inside "
                             "scripts/in-netns.sh\n");
        return 2;
    }
    const int link = benchLink(o);
    if (link != 0 || !o.station)
        return link;
    return benchStation(o);
}
