// What publishing every verdict to the plant's broker costs the station on the real-time line.
//   bench_mqtt [--seconds S] [--rate R] [--rounds N] [--station DIR] [--broker HOST:PORT]
// Two HIK cameras at R products/min each (default 1,000), three shots per product, the
// shipped model (DIR, default the repository's station/), recipe 5|5|5, 10 % bad products,
// MISMATCHACT 1, nothing saved. Each round runs the line for S seconds (default 60) without
// publishing, then S seconds publishing every verdict and the counters once a second to a
// mosquitto broker on loopback (started here, unless --broker names one), with
// mosquitto_sub, in a process of its own, counting what arrives. Per run: the line's
// account; with publishing, messages a second, messages that arrived and were dropped, and
// CPU: the whole process's, the client thread's, the broker's. Last: whether the line's
// account with publishing equals the one without, in everything the station decides.
#include "BenchOptions.h"
#include "BenchRecipe.h"
#include "CpuTime.h"
#include "EjectionChain.h"
#include "MatMetaType.h"
#include "MqttBroker.h"
#include "PlantPublisher.h"
#include "StationQueues.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLoggingCategory>
#include <QProcess>
#include <QTemporaryDir>

#include <ctime>
#include <atomic>
#include <cstdio>
#include <memory>

namespace {
double threadCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// The client thread's stat file (it names itself "mqtt-client"), or empty.
QString clientThreadStat()
{
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString &tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(tid + QStringLiteral("/comm")));
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == "mqtt-client")
            return tasks.filePath(tid + QStringLiteral("/stat"));
    }
    return QString();
}

struct Run
{
    bool publishing = false;
    double seconds = 0;
    EjectionChain::Step line;
    double processCpu = 0, clientCpu = 0, brokerCpu = 0;
    uint64_t accepted = 0, dropped = 0;
    long arrived = 0;
};

EjectionChain::Step sum(const std::vector<EjectionChain::Step> &steps)
{
    EjectionChain::Step t;
    for (const EjectionChain::Step &s : steps) {
        t.products += s.products;
        t.ng += s.ng;
        t.ejectedRight += s.ejectedRight;
        t.ngMissed += s.ngMissed;
        t.goodEjected += s.goodEjected;
        t.cutWrongly += s.cutWrongly;
        t.late += s.late;
        t.unjudged += s.unjudged;
        t.pairingErrors += s.pairingErrors;
    }
    return t;
}

// What the station decides, as against what the pictures and the model make of it.
bool sameStation(const EjectionChain::Step &a, const EjectionChain::Step &b)
{
    return a.pairingErrors == b.pairingErrors && a.cutWrongly == b.cutWrongly && a.late == b.late
        && a.unjudged == b.unjudged;
}

void print(const Run &r)
{
    const EjectionChain::Step &s = r.line;
    std::printf("%-10s %8d %4d %5d %6d %5d %4d %8d %9d", r.publishing ? "publishing" : "without", s.products,
                s.ng, s.ngMissed, s.goodEjected, s.pairingErrors, s.cutWrongly, s.late, s.unjudged);
    const double pct = 100.0 / r.seconds;
    if (r.publishing)
        std::printf(" %8.1f %8ld %7llu %6.1f %6.2f %6.2f\n", r.accepted / r.seconds, r.arrived,
                    static_cast<unsigned long long>(r.dropped), r.processCpu * pct, r.clientCpu * pct,
                    r.brokerCpu * pct);
    else
        std::printf(" %8s %8s %7s %6.1f %6s %6s\n", "-", "-", "-", r.processCpu * pct, "-", "-");
    std::fflush(stdout);
}
} // namespace

int main(int argc, char *argv[])
{
    qRegisterMetaType<cv::Mat>("cv::Mat");
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false")); // a line per late product
    double seconds = 60;
    int rate = 1000;
    int rounds = 1;
    QString station = QStringLiteral(GLUEBOX_SOURCE_DIR "/station");
    QString host = QStringLiteral("127.0.0.1");
    int port = 0;
    if (!optionsKnown(argc, argv, {"--seconds", "--rate", "--rounds", "--station", "--broker"},
                      "bench_mqtt [--seconds S] [--rate R] [--rounds N] [--station DIR] [--broker HOST:PORT]"))
        return 2;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == "--seconds")
            seconds = args[i + 1].toDouble();
        else if (args[i] == "--rate")
            rate = args[i + 1].toInt();
        else if (args[i] == "--rounds")
            rounds = args[i + 1].toInt();
        else if (args[i] == "--station")
            station = args[i + 1];
        else if (args[i] == "--broker") {
            host = args[i + 1].section(QLatin1Char(':'), 0, 0);
            port = args[i + 1].section(QLatin1Char(':'), 1, 1).toInt();
        }
    }
    if (seconds <= 0 || rate <= 0 || rounds <= 0) {
        std::fprintf(stderr, "--seconds, --rate and --rounds must be positive\n");
        return 1;
    }
    MqttBroker broker;
    qint64 brokerPid = 0;
    if (port == 0) {
        QString error;
        if (!broker.start(&error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
        port = broker.port();
        brokerPid = broker.pid();
    }
    if (!QDir::setCurrent(station + "/bin")) {
        std::fprintf(stderr, "no station folder at %s\n", qPrintable(station));
        return 1;
    }
    setBenchRecipe(0);

    SimulatedStation::Settings settings = SimulatedStation::defaults();
    settings.ngShare = 0.1;
    settings.dotsPerImage = 5;
    EjectionChain chain(settings);
    std::atomic<PlantPublisher *> plant{nullptr};
    chain.setReporter([&plant](const ProductReport &r) {
        if (PlantPublisher *p = plant.load())
            p->product(r);
    });
    if (!chain.open()) {
        std::fprintf(stderr, "the cameras or the model could not be opened\n");
        return 1;
    }
    {
        // What one product's message costs the inspection thread that reports it: the
        // JSON and the queue, the network being the client thread's.
        MonitorConf conf;
        conf.name = QStringLiteral("bench-calls");
        conf.queue = MonitorConf::kMaxQueue;
        PlantPublisher publisher(host, port, conf);
        publisher.start();
        ProductReport r;
        r.dots = {5, 5, 4};
        r.verdict = ProductReport::Verdict::Bad;
        r.inspected = true;
        r.inspectMs = 31;
        r.time = QDateTime::currentDateTime();
        constexpr int kCalls = 20000;
        const double cpu0 = threadCpuSeconds();
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < kCalls; ++i) {
            r.product = static_cast<uint64_t>(i + 1);
            publisher.product(r);
        }
        const double wallUs = clock.nsecsElapsed() / 1e3 / kCalls;
        const double cpuUs = (threadCpuSeconds() - cpu0) * 1e6 / kCalls;
        std::printf("one product's message on the reporting thread: %.1f us (%.1f us CPU), over %d calls\n",
                    wallUs, cpuUs, kCalls);
    }
    std::printf("2 cameras at %d products/min each, %.0f s per run, broker %s:%d\n", rate, seconds,
                qPrintable(host), port);
    std::printf("%-10s %8s %4s %5s %6s %5s %4s %8s %9s %8s %8s %7s %6s %6s %6s\n", "run", "products", "ng",
                "ng-missed", "good-ej", "pair", "cut", "late", "unjudged", "msg/s", "arrived", "dropped",
                "cpu%", "client%", "broker%");

    QTemporaryDir work;
    std::vector<Run> runs;
    for (int round = 0; round < rounds; ++round) {
        for (bool publishing : {false, true}) {
            Run r;
            r.publishing = publishing;
            std::unique_ptr<PlantPublisher> publisher;
            QProcess subscriber;
            const QString arrivals = work.filePath(QStringLiteral("arrived-%1.txt").arg(round));
            if (publishing) {
                subscriber.setStandardOutputFile(arrivals);
                subscriber.start(QStringLiteral("mosquitto_sub"),
                                 {"-h", host, "-p", QString::number(port), "-q", "1", "-t", "gluebox/bench/#"});
                if (!subscriber.waitForStarted(5000)) {
                    std::fprintf(stderr, "mosquitto_sub did not start (package mosquitto-clients)\n");
                    return 1;
                }
                MonitorConf conf;
                conf.name = QStringLiteral("bench");
                conf.queue = MonitorConf::kMaxQueue;
                publisher = std::make_unique<PlantPublisher>(host, port, conf);
                for (int p : chain.positions())
                    publisher->setPresent(p);
                publisher->start();
                QElapsedTimer wait;
                wait.start();
                while (!publisher->stats().connected && wait.elapsed() < 5000)
                    QThread::msleep(20);
                QThread::msleep(300); // the subscriber's subscription is in
                plant = publisher.get();
            }
            const QString clientStat = publishing ? clientThreadStat() : QString();
            const QString brokerStat = brokerPid ? QStringLiteral("/proc/%1/stat").arg(brokerPid) : QString();
            const double cpu0 = processCpuSeconds();
            const double client0 = clientStat.isEmpty() ? 0 : statCpuSeconds(clientStat);
            const double broker0 = brokerStat.isEmpty() ? 0 : statCpuSeconds(brokerStat);
            QElapsedTimer clock;
            clock.start();
            r.line = sum(chain.run(rate, static_cast<int>(seconds * 1000)));
            r.seconds = clock.elapsed() / 1000.0;
            r.processCpu = processCpuSeconds() - cpu0;
            r.clientCpu = clientStat.isEmpty() ? 0 : statCpuSeconds(clientStat) - client0;
            r.brokerCpu = brokerStat.isEmpty() ? 0 : statCpuSeconds(brokerStat) - broker0;
            if (publishing) {
                plant = nullptr;
                QElapsedTimer wait;
                wait.start();
                while (publisher->stats().waiting > 0 && wait.elapsed() < 10000)
                    QThread::msleep(20);
                const MqttClient::Stats s = publisher->stats();
                r.accepted = s.accepted;
                r.dropped = s.dropped;
                publisher.reset();
                QThread::msleep(300);
                subscriber.terminate();
                subscriber.waitForFinished(5000);
                QFile f(arrivals);
                if (f.open(QIODevice::ReadOnly))
                    r.arrived = f.readAll().count('\n');
            }
            print(r);
            runs.push_back(r);
        }
    }
    std::printf("products: judged at the ejector; pair: pairing errors; msg/s: messages queued a second;\n"
                "arrived: at the subscriber (with status); cpu%%: of one core, the whole process\n");
    bool same = true;
    for (size_t i = 0; i + 1 < runs.size(); i += 2)
        same = same && sameStation(runs[i].line, runs[i + 1].line);
    std::printf("line account with publishing equals the one without (pairing, cut, late, unjudged): %s\n",
                same ? "yes" : "NO");
    return same ? 0 : 2;
}
