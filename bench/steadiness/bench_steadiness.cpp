// How steady this machine's cores are at the station's own work, over time.
//   bench_steadiness [SECONDS] [STATION_DIR]
// One thread per core, held to it, each with its own detector on the shipped model
// (STATION_DIR/model, default: the repository's station/) detecting one grey box picture
// over and over for SECONDS (default 60), OpenCV on one thread as in the station. Per core,
// detections per half second: median, 5th percentile and minimum, the half seconds under
// 80 % of the median and the longest run of them; then the half seconds when every core
// was under 80 % at once. A machine shared with other virtual machines can slow one core
// for a second or so without counting it as stolen time; the line's verdicts then come
// late whatever the station does (bench_line traces each late verdict).
#include "BoxImageGenerator.h"
#include "GlueDotDetector.h"

#include <QDir>

#include <opencv2/core/utility.hpp>

#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kWindow = std::chrono::milliseconds(500);

// Detections in each half second since `start`, on core `core`.
std::vector<int> countOnCore(int core, const cv::Mat &picture, Clock::time_point start, int seconds,
                             std::atomic<bool> &failed)
{
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(core, &set);
    pthread_setaffinity_np(pthread_self(), sizeof(set), &set);
    GlueDotDetector detector;
    if (!detector.initDetector()) {
        failed = true;
        return {};
    }
    std::vector<int> counts(size_t(seconds) * 2, 0);
    cv::Mat drawn;
    std::vector<Detection> found;
    for (;;) {
        detector.detectOne(picture, drawn, found);
        const auto window = (Clock::now() - start) / kWindow;
        if (window >= long(counts.size()))
            return counts;
        if (window >= 0)
            ++counts[size_t(window)];
    }
}

int longestRun(const std::vector<bool> &slow)
{
    int longest = 0, run = 0;
    for (bool s : slow) {
        run = s ? run + 1 : 0;
        longest = std::max(longest, run);
    }
    return longest;
}

} // namespace

int main(int argc, char *argv[])
{
    const int seconds = argc > 1 ? std::max(2, std::atoi(argv[1])) : 60;
    const QString station = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral(GLUEBOX_SOURCE_DIR "/station");
    if (!QDir::setCurrent(QDir(station).filePath(QStringLiteral("bin")))) {
        std::fprintf(stderr, "no bin/ folder in %s\n", qPrintable(station));
        return 2;
    }
    cv::setNumThreads(1);
    const int cores = int(sysconf(_SC_NPROCESSORS_ONLN));
    const BoxImageGenerator generator(2);
    const cv::Mat picture = generator.product(0).images[0].image;
    // Loading the networks takes a while: every core starts counting at once, later.
    const Clock::time_point start = Clock::now() + std::chrono::seconds(5);
    std::atomic<bool> failed{false};
    std::vector<std::vector<int>> counts(static_cast<size_t>(cores));
    std::vector<std::thread> threads;
    for (int c = 0; c < cores; ++c)
        threads.emplace_back([&, c] { counts[size_t(c)] = countOnCore(c, picture, start, seconds, failed); });
    for (std::thread &t : threads)
        t.join();
    if (failed) {
        std::fprintf(stderr, "the model could not be loaded from %s\n", qPrintable(station));
        return 1;
    }

    std::printf("%d cores, %d s, detections of one grey picture per half second:\n", cores, seconds);
    std::vector<bool> allSlow(size_t(seconds) * 2, true);
    for (int c = 0; c < cores; ++c) {
        std::vector<int> sorted = counts[size_t(c)];
        std::sort(sorted.begin(), sorted.end());
        const int median = sorted[sorted.size() / 2];
        std::vector<bool> slow;
        for (size_t w = 0; w < counts[size_t(c)].size(); ++w) {
            slow.push_back(counts[size_t(c)][w] < 0.8 * median);
            allSlow[w] = allSlow[w] && slow.back();
        }
        std::printf("  core %d: median %d, 5th percentile %d, minimum %d; under 80 %% of the median in %ld"
                    " half seconds, at most %d in a row\n",
                    c, median, sorted[sorted.size() / 20], sorted.front(),
                    long(std::count(slow.begin(), slow.end(), true)), longestRun(slow));
    }
    std::printf("  every core under 80 %% at once: %ld half seconds, at most %d in a row\n",
                long(std::count(allSlow.begin(), allSlow.end(), true)), longestRun(allSlow));
    return 0;
}
