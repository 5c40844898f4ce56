// Times the glue-dot detector on the shipped model and generated box images.
//   bench_detector [STATION_DIR] [ROUNDS] [THREADS]
// STATION_DIR holds model/ and bin/alg_jd.jpg (default: the repository's station/).
// Prints median and 99th percentile per call of: the raw forward of a prepared blob of 1
// image and detectOne; the raw forward of 3 images, detectBatch of 3 and three detectOne
// in a row (the calls of each group taking turns); then the
// steps of detectBatch one by one (resize, blob, forward, decode, copy, draw), the model's
// FLOPs and the share of the CPU's peak that the forward reaches. THREADS: OpenCV's
// threads (default 1, as in the station).
#include "BoxImageGenerator.h"
#include "GlueDotDecoding.h"
#include "GlueDotDetector.h"

#include "StationPaths.h"

#include <QDir>

#include <opencv2/core/utility.hpp>
#include <opencv2/dnn.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <numeric>
#include <random>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Figures
{
    double medianMs;
    double p99Ms;
};

Figures figuresOf(std::vector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    const size_t p99 = std::min(ms.size() - 1, size_t(ms.size() * 0.99));
    return {ms[ms.size() / 2], ms[p99]};
}

Figures timeIt(int rounds, const std::function<void()> &call)
{
    for (int i = 0; i < 5; ++i) // let caches and the thread pool settle
        call();
    std::vector<double> ms;
    ms.reserve(rounds);
    for (int i = 0; i < rounds; ++i) {
        const auto t0 = Clock::now();
        call();
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    }
    return figuresOf(std::move(ms));
}

// The calls in turn, `rounds` times, after a few rounds to settle. Each round starts one
// call further on, so that each call follows each other one as often: the call after
// another network's forward finds the caches cold and pays for it.
std::vector<Figures> timeTogether(int rounds, const std::vector<std::function<void()>> &calls)
{
    std::vector<std::vector<double>> ms(calls.size());
    // A call after another network's forward finds the caches cold: each round takes the
    // calls in a fresh order (the same from run to run), so that each follows every other
    // alike.
    std::vector<size_t> order(calls.size());
    std::iota(order.begin(), order.end(), size_t(0));
    std::mt19937 shuffle(20261210);
    for (int round = -5; round < rounds; ++round) {
        std::shuffle(order.begin(), order.end(), shuffle);
        for (size_t c : order) {
            const auto t0 = Clock::now();
            calls[c]();
            if (round >= 0)
                ms[c].push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        }
    }
    std::vector<Figures> figures;
    for (std::vector<double> &m : ms)
        figures.push_back(figuresOf(std::move(m)));
    return figures;
}

void print(const char *what, const Figures &f)
{
    std::printf("%-34s median %7.2f ms   p99 %7.2f ms\n", what, f.medianMs, f.p99Ms);
}

double cpuMHz()
{
    std::ifstream info("/proc/cpuinfo");
    std::string line;
    while (std::getline(info, line))
        if (line.rfind("cpu MHz", 0) == 0)
            return std::atof(line.substr(line.find(':') + 1).c_str());
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    const QString station = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(GLUEBOX_SOURCE_DIR "/station");
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 200;
    const int threads = argc > 3 ? std::max(1, std::atoi(argv[3])) : 1;
    if (!QDir::setCurrent(QDir(station).filePath(QStringLiteral("bin")))) {
        std::fprintf(stderr, "no bin/ folder in %s\n", qPrintable(station));
        return 2;
    }
    GlueDotDetector detector;
    if (!detector.initDetector()) {
        std::fprintf(stderr, "initDetector failed\n");
        return 1;
    }

    // The station runs each network on one thread (chooseBackend); more is for comparison.
    cv::setNumThreads(threads);

    // Three images of a product: grey, as the work thread hands a grey camera's over, and
    // made BGR, as a colour camera's would come (and as the work thread handed all over
    // before the detector took grey ones).
    const BoxImageGenerator gen(2);
    const BoxImageGenerator::Product product = gen.product(0);
    std::vector<cv::Mat> images, greys;
    for (const auto &p : product.images) {
        cv::Mat bgr;
        cv::cvtColor(p.image, bgr, cv::COLOR_GRAY2BGR);
        images.push_back(bgr);
        greys.push_back(p.image);
    }

    // The raw network, loaded and placed as the detector places its own.
    cv::dnn::Net net = cv::dnn::readNetFromDarknet(StationPaths::modelConfig().toStdString(),
                                                   StationPaths::modelWeights().toStdString());
    net.setPreferableBackend(cv::dnn::DNN_BACKEND_OPENCV);
    net.setPreferableTarget(cv::dnn::DNN_TARGET_CPU);
    const std::vector<std::string> outNames = net.getUnconnectedOutLayersNames();
    const cv::Size input = GlueDotDetector::readInputSize(StationPaths::modelConfig().toStdString());
    const cv::Mat blob1 = cv::dnn::blobFromImage(images[0], 1.0 / 255, input, cv::Scalar(), true, false);
    const cv::Mat blob3 = cv::dnn::blobFromImages(images, 1.0 / 255, input, cv::Scalar(), true, false);

    std::printf("OpenCV %s, %d threads, %d CPUs, %d rounds per figure\n", CV_VERSION, cv::getNumThreads(),
                cv::getNumberOfCPUs(), rounds);
    // No network changes its input's shape between calls (OpenCV sets a network up again
    // when it does), and the calls take turns within each round, so that the machine's
    // drift falls on all of them alike. Two instances of one network differ by a few per
    // cent in speed: the raw networks' figures carry that against the detector's.
    cv::dnn::Net net1 = cv::dnn::readNetFromDarknet(StationPaths::modelConfig().toStdString(),
                                                    StationPaths::modelWeights().toStdString());
    net1.setPreferableBackend(cv::dnn::DNN_BACKEND_OPENCV);
    net1.setPreferableTarget(cv::dnn::DNN_TARGET_CPU);
    GlueDotDetector single;
    single.initDetector();
    std::vector<cv::Mat> outs, outs1;
    // Two rounds of turns, the singles and the triples, each with its own forward: the
    // figures within a round compare; a call's neighbours in a round move it by a few per
    // cent.
    const std::vector<Figures> ones = timeTogether(rounds, {
        [&] {
            net1.setInput(blob1);
            net1.forward(outs1, outNames);
        },
        [&] {
            cv::Mat drawn;
            std::vector<Detection> found;
            single.detectOne(images[0], drawn, found);
        },
        [&] {
            cv::Mat drawn;
            std::vector<Detection> found;
            single.detectOne(greys[0], drawn, found);
        },
    });
    // A product of three images each way: the raw network's forward of the three-image
    // blob, detectBatch, three detectOne. Colour goes through the network as loaded, grey
    // through the one whose first layer takes one channel. detectBatch runs the network
    // image by image, so its three detectOne run on the same detector at the same input
    // shape: the two differ only by their code, not by two instances' speed.
    cv::dnn::Net greyNet = cv::dnn::readNetFromDarknet(StationPaths::modelConfig().toStdString(),
                                                       StationPaths::modelWeights().toStdString());
    greyNet.setPreferableBackend(cv::dnn::DNN_BACKEND_OPENCV);
    greyNet.setPreferableTarget(cv::dnn::DNN_TARGET_CPU);
    GlueDotDetector::foldFirstLayerToGrey(greyNet);
    const cv::Mat greyBlob3 = cv::dnn::blobFromImages(greys, 1.0 / 255, input, cv::Scalar(), true, false);
    std::vector<cv::Mat> greyOuts;
    auto batch = [&](const std::vector<cv::Mat> &given) {
        std::vector<cv::Mat> drawn;
        std::vector<std::vector<Detection>> found;
        detector.detectBatch(given, drawn, found);
    };
    auto threeSingles = [&](const std::vector<cv::Mat> &given) {
        // The drawn images kept to the end as a batch's caller gets them: freed at once,
        // each call would reuse the last one's memory.
        std::vector<cv::Mat> drawn(given.size());
        for (size_t i = 0; i < given.size(); ++i) {
            std::vector<Detection> found;
            detector.detectOne(given[i], drawn[i], found);
        }
    };
    // All six in one round of turns: colour against grey compares as well.
    const std::vector<Figures> all = timeTogether(rounds, {
        [&] {
            net.setInput(blob3);
            net.forward(outs, outNames);
        },
        [&] { batch(images); },
        [&] { threeSingles(images); },
        [&] {
            greyNet.setInput(greyBlob3);
            greyNet.forward(greyOuts, outNames);
        },
        [&] { batch(greys); },
        [&] { threeSingles(greys); },
    });
    const std::vector<Figures> threes(all.begin(), all.begin() + 3), greyThrees(all.begin() + 3, all.end());
    const Figures &f1 = ones[0], &f3 = threes[0];
    print("forward, blob of 1 image", f1);
    print("detectOne", ones[1]);
    print("detectOne, grey", ones[2]);
    for (const auto &[what, figures] : {std::make_pair("colour", &threes), std::make_pair("grey", &greyThrees)}) {
        const std::vector<Figures> &f = *figures;
        std::printf("%s images:\n", what);
        print("  forward, blob of 3 images", f[0]);
        print("  detectBatch of 3", f[1]);
        print("  three detectOne in a row", f[2]);
        std::printf("  detectBatch beyond the forward of its blob: %+.1f %%; against three detectOne: %+.1f %%\n",
                    100 * (f[1].medianMs / f[0].medianMs - 1), 100 * (f[1].medianMs / f[2].medianMs - 1));
    }
    std::printf("detectBatch of 3 grey images against 3 colour ones: %+.1f %%\n",
                100 * (greyThrees[1].medianMs / threes[1].medianMs - 1));

    // Where detectBatch's time goes: each of its steps alone, on the same three images.
    std::printf("detectBatch of 3, step by step:\n");
    std::vector<cv::Mat> resized(images.size()), copies(images.size());
    cv::Mat blob;
    std::vector<std::vector<ScoredDetection>> decoded(images.size());
    print("  resize", timeIt(rounds, [&] {
              for (size_t i = 0; i < images.size(); ++i)
                  cv::resize(images[i], resized[i], input, 0, 0, cv::INTER_LINEAR);
          }));
    print("  blob (resize included)", timeIt(rounds, [&] { GlueDotDetector::makeBlob(images, input, blob); }));
    print("  blob of the grey images", timeIt(rounds, [&] { GlueDotDetector::makeBlob(greys, input, blob); }));
    GlueDotDetector::makeBlob(images, input, blob);
    print("  blob handed to the network", timeIt(rounds, [&] { net.setInput(blob); }));
    print("  forward of that blob", timeIt(rounds, [&] { net.forward(outs, outNames); }));
    print("  decode", timeIt(rounds, [&] {
              for (size_t b = 0; b < images.size(); ++b)
                  decoded[b] = GlueDotDecoding::decode(GlueDotDecoding::imageOutputs(outs, int(b)), images[b].size());
          }));
    print("  copy", timeIt(rounds, [&] {
              for (size_t b = 0; b < images.size(); ++b)
                  copies[b] = images[b].clone();
          }));
    print("  draw", timeIt(rounds, [&] {
              for (size_t b = 0; b < images.size(); ++b)
                  for (const ScoredDetection &d : decoded[b])
                      GlueDotDetector::drawDetection(d.detection.classId, d.confidence, d.detection.x, d.detection.y,
                                                     d.detection.x + d.detection.width,
                                                     d.detection.y + d.detection.height, copies[b]);
          }));

    // What OpenCV's CPU back-end makes of each layer's shape: its time in the last forward
    // of three images (the median of `rounds` forwards), its work and the rate it reaches.
    {
        std::vector<std::vector<double>> layerMs;
        std::vector<double> layerTimes;
        for (int round = 0; round < rounds; ++round) {
            net.setInput(blob3);
            net.forward(outs, outNames);
            net.getPerfProfile(layerTimes);
            layerMs.resize(layerTimes.size());
            for (size_t l = 0; l < layerTimes.size(); ++l)
                layerMs[l].push_back(layerTimes[l] * 1000.0 / cv::getTickFrequency());
        }
        const std::vector<std::string> names = net.getLayerNames();
        std::vector<cv::dnn::MatShape> inShapes, outShapes;
        std::printf("forward of 3 images, layer by layer (median of %d):\n", rounds);
        std::printf("  %-22s %-14s %-18s %8s %8s %8s\n", "layer", "type", "output", "ms", "GFLOP", "GFLOP/s");
        for (size_t l = 0; l < names.size() && l < layerMs.size(); ++l) {
            const int id = net.getLayerId(names[l]);
            const cv::Ptr<cv::dnn::Layer> layer = net.getLayer(id);
            net.getLayerShapes(cv::dnn::MatShape{3, 3, input.height, input.width}, id, inShapes, outShapes);
            std::string shape;
            for (int d : outShapes.empty() ? cv::dnn::MatShape{} : outShapes[0])
                shape += (shape.empty() ? "" : "x") + std::to_string(d);
            const double ms = figuresOf(layerMs[l]).medianMs;
            const double gflop = double(net.getFLOPS(id, cv::dnn::MatShape{3, 3, input.height, input.width})) / 1e9;
            std::printf("  %-22s %-14s %-18s %8.2f %8.3f %8.1f\n", names[l].c_str(), layer->type.c_str(),
                        shape.c_str(), ms, gflop, ms > 0 ? gflop / (ms / 1e3) : 0.0);
        }
    }

    const double flops = double(net.getFLOPS(cv::dnn::MatShape{1, 3, input.height, input.width}));
    // Peak: every core issuing two fused multiply-adds per cycle on its widest vectors.
    const int lanes = cv::checkHardwareSupport(CV_CPU_AVX_512F) ? 16 : cv::checkHardwareSupport(CV_CPU_AVX2) ? 8 : 4;
    const double ghz = cpuMHz() / 1000.0;
    // Of the cores the forward may use: one thread cannot reach a second core's share.
    const int cores = std::min(cv::getNumThreads(), cv::getNumberOfCPUs());
    const double peak = cores * ghz * 1e9 * lanes * 2 * 2;
    std::printf("model: %.3f GFLOPs per image (multiply and add counted apart)\n", flops / 1e9);
    if (peak > 0) {
        std::printf("peak of the cores in use: %d x %.2f GHz x %d FP32 flops per cycle = %.0f GFLOP/s\n", cores,
                    ghz, lanes * 4, peak / 1e9);
        std::printf("forward of 1 reaches %.1f GFLOP/s (%.1f %% of peak), of 3 reaches %.1f GFLOP/s (%.1f %%)\n",
                    flops / (f1.medianMs / 1e3) / 1e9, 100 * flops / (f1.medianMs / 1e3) / peak,
                    3 * flops / (f3.medianMs / 1e3) / 1e9, 100 * 3 * flops / (f3.medianMs / 1e3) / peak);
        // The grey network does the colour network's work on grey images with fewer flops:
        // counted at the colour network's, as the same function delivered faster.
        const double g3 = greyThrees[0].medianMs;
        std::printf("forward of 3 grey images, at the colour network's work: %.1f GFLOP/s (%.1f %% of peak)\n",
                    3 * flops / (g3 / 1e3) / 1e9, 100 * 3 * flops / (g3 / 1e3) / peak);
    }
    return 0;
}
