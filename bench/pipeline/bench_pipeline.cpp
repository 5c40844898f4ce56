// The inspection worker against the raw network it wraps.
//   bench_pipeline [STATION_DIR] [PRODUCTS]
// STATION_DIR holds model/ and bin/alg_jd.jpg (default: the repository's station/).
// Feeds a worker three-image frame records (728 x 544 each, generated) one after the
// other, each as soon as the previous verdict is out, with SAVE 0 and again with SAVE 2,
// then two workers (two cameras) at once. Prints per product the median and p99 time
// from put to event_ok/event_ng, detectBatch alone and the raw forward of the same batch
// timed right after it, the worker's overhead over that forward, products per second (of
// time spent in the worker; the interleaved measurements are not counted) and the peak
// memory.
#include "BoxImageGenerator.h"
#include "GlueDotDetector.h"
#include "MatMetaType.h"
#include "StationPaths.h"
#include "StationQueues.h"
#include "SysConf.h"
#include "WorkThread.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <opencv2/dnn.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

struct Stats
{
    double median = 0;
    double p99 = 0;
};

Stats stats(std::vector<double> v)
{
    if (v.empty())
        return {};
    std::sort(v.begin(), v.end());
    return {v[v.size() / 2], v[std::min(v.size() - 1, size_t(v.size() * 0.99))]};
}

// Writes the save queue to disk, as the saving thread does.
class SaveDrain
{
public:
    explicit SaveDrain(const QString &folder)
        : m_folder(folder.toStdString())
        , m_thread([this] { run(); })
    {
    }
    ~SaveDrain()
    {
        g_save_queue->put(SaveRequest{});
        m_thread.join();
    }
    int written() const { return m_written; }

private:
    void run()
    {
        for (;;) {
            SaveRequest r;
            g_save_queue->take(r);
            if (r.image.empty())
                return;
            cv::imwrite(m_folder + "/" + std::to_string(m_written++) + ".jpg", r.image);
        }
    }
    std::string m_folder;
    int m_written = 0;
    std::thread m_thread;
};

// One camera position: its worker and the verdicts it gives, timed from the put.
struct Lane
{
    explicit Lane(int cam)
        : cam(cam)
    {
        worker.init(g_image_queue[cam], 3, cam);
        auto done = [this](int) {
            std::lock_guard<std::mutex> lock(mutex);
            verdictAt = Clock::now();
            ++verdicts;
            wake.notify_all();
        };
        QObject::connect(&worker, &WorkThread::event_ok, &worker, done, Qt::DirectConnection);
        QObject::connect(&worker, &WorkThread::event_ng, &worker, done, Qt::DirectConnection);
        worker.start(QThread::HighestPriority);
    }

    // Puts one frame record and waits for its verdict; the put-to-verdict time.
    double run(const FrameRecord &record)
    {
        std::unique_lock<std::mutex> lock(mutex);
        const int before = verdicts;
        lock.unlock();
        FrameRecord copy{record.shots, record.image.clone()}; // the camera's own buffer
        const auto t0 = Clock::now();
        g_image_queue[cam]->put(std::move(copy));
        lock.lock();
        wake.wait(lock, [&] { return verdicts > before; });
        return ms(verdictAt - t0);
    }

    int cam;
    WorkThread worker;
    std::mutex mutex;
    std::condition_variable wake;
    int verdicts = 0;
    Clock::time_point verdictAt;
};

long peakRssMb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

// A product's parts, cut as the worker cuts them.
std::vector<cv::Mat> partsOf(const FrameRecord &record)
{
    const int h = record.image.rows / record.shots;
    std::vector<cv::Mat> parts;
    for (int i = 0; i < record.shots; ++i) {
        cv::Mat part;
        cv::cvtColor(record.image.rowRange(i * h, (i + 1) * h), part, cv::COLOR_GRAY2BGR);
        parts.push_back(part);
    }
    return parts;
}

// detectBatch alone on the same parts: what the detector adds to the forward (blob,
// decoding, drawing), apart from what the worker adds around it.
double detectorAlone(GlueDotDetector &detector, const std::vector<cv::Mat> &parts)
{
    std::vector<cv::Mat> drawn;
    std::vector<std::vector<Detection>> results;
    const auto t0 = Clock::now();
    detector.detectBatch(parts, drawn, results);
    return ms(Clock::now() - t0);
}

// The raw network on one product's batch: the blob made outside the timing, then only the
// forward timed.
double rawForward(cv::dnn::Net &net, const std::vector<std::string> &outNames, const std::vector<cv::Mat> &parts)
{
    static const cv::Size input = GlueDotDetector::readInputSize(StationPaths::modelConfig().toStdString());
    const cv::Mat blob = cv::dnn::blobFromImages(parts, 1.0 / 255, input, cv::Scalar(), true, false);
    std::vector<cv::Mat> outs;
    net.setInput(blob);
    const auto t0 = Clock::now();
    net.forward(outs, outNames);
    return ms(Clock::now() - t0);
}

cv::dnn::Net loadNet()
{
    cv::dnn::Net net = cv::dnn::readNetFromDarknet(StationPaths::modelConfig().toStdString(),
                                                   StationPaths::modelWeights().toStdString());
    net.setPreferableBackend(cv::dnn::DNN_BACKEND_OPENCV);
    net.setPreferableTarget(cv::dnn::DNN_TARGET_CPU);
    return net;
}

void runCase(const char *title, int workers, const std::vector<FrameRecord> &frames,
             const std::vector<std::string> &outNames)
{
    std::vector<std::unique_ptr<Lane>> lanes;
    std::vector<cv::dnn::Net> nets;
    for (int cam = 0; cam < workers; ++cam) {
        lanes.push_back(std::make_unique<Lane>(cam));
        nets.push_back(loadNet());
        rawForward(nets.back(), outNames, partsOf(frames[0])); // the backend's lazy start
    }
    // Each product goes through the worker, then its batch through the raw network right
    // after, so that both see the same machine: this VM's speed drifts by tens of per cent
    // between minutes, which would swamp a comparison of two separate runs.
    std::vector<double> pipeline, forward, detector;
    std::mutex resultMutex;
    double pipelineSeconds = 0;
    std::vector<std::thread> feeders;
    for (int cam = 0; cam < workers; ++cam) {
        feeders.emplace_back([&, cam] {
            double busy = 0;
            for (const FrameRecord &record : frames) {
                const double t = lanes[cam]->run(record);
                const std::vector<cv::Mat> parts = partsOf(record);
                const double f = rawForward(nets[cam], outNames, parts);
                const double d = detectorAlone(g_detector[2 + cam], parts);
                busy += t;
                std::lock_guard<std::mutex> lock(resultMutex);
                pipeline.push_back(t);
                forward.push_back(f);
                detector.push_back(d);
            }
            std::lock_guard<std::mutex> lock(resultMutex);
            pipelineSeconds = std::max(pipelineSeconds, busy / 1000.0);
        });
    }
    for (std::thread &f : feeders)
        f.join();

    const Stats p = stats(pipeline), f = stats(forward), d = stats(detector);
    std::printf("%s\n", title);
    std::printf("  put -> verdict    median %7.2f ms   p99 %7.2f ms\n", p.median, p.p99);
    std::printf("  detectBatch alone median %7.2f ms   p99 %7.2f ms\n", d.median, d.p99);
    std::printf("  raw forward       median %7.2f ms   p99 %7.2f ms\n", f.median, f.p99);
    std::printf("  overhead          %+.1f %% of the raw forward (median)\n",
                100.0 * (p.median - f.median) / f.median);
    std::printf("  throughput        %.1f products/s (%d worker%s)\n",
                double(pipeline.size()) / pipelineSeconds, workers, workers > 1 ? "s" : "");
    std::printf("  peak memory       %ld MB\n", peakRssMb());
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    qRegisterMetaType<cv::Mat>("cv::Mat");
    const QString station = argc > 1 ? QString::fromLocal8Bit(argv[1])
                                     : QStringLiteral(GLUEBOX_SOURCE_DIR "/station");
    const int products = argc > 2 ? std::max(10, std::atoi(argv[2])) : 300;
    if (!QDir::setCurrent(QDir(station).filePath(QStringLiteral("bin")))) {
        std::fprintf(stderr, "no bin/ folder in %s\n", qPrintable(station));
        return 2;
    }
    for (int cam = 0; cam < 4; ++cam) { // 0 and 1 for the workers, 2 and 3 timed alone
        if (!g_detector[cam].initDetector()) {
            std::fprintf(stderr, "initDetector failed: is the model in %s/model?\n", qPrintable(station));
            return 1;
        }
    }
    StationQueues::create();

    // Products from the generator, recipe 0 so every product is judged fully.
    const BoxImageGenerator generator(17);
    std::vector<FrameRecord> frames;
    for (int i = 0; i < products; ++i)
        frames.push_back(FrameRecord{3, generator.product(i).stacked.clone()});
    for (int cam = 0; cam < 4; ++cam) {
        g_sys_conf.SHOOT[cam] = 3;
        for (int s = 0; s < 3; ++s)
            g_sys_conf.NO[cam][s] = 0;
    }

    const std::vector<std::string> outNames = loadNet().getUnconnectedOutLayersNames();
    std::printf("%d products of 3 images (%dx%d), OpenCV %s, %d threads\n", products,
                frames[0].image.cols, frames[0].image.rows / 3, CV_VERSION, cv::getNumThreads());

    QTemporaryDir saved;
    {
        SaveDrain drain(saved.path());
        g_sys_conf.SAVE = 0;
        runCase("one worker, SAVE 0", 1, frames, outNames);
        g_sys_conf.SAVE = 2;
        runCase("one worker, SAVE 2", 1, frames, outNames);
        g_sys_conf.SAVE = 0;
        runCase("two workers, SAVE 0", 2, frames, outNames);
    }
    StationQueues::release();
    return 0;
}
