// How long the box-image generator takes to draw one of the simulated line's products
// (three 728 x 544 images), on one OpenCV thread as in the station.
//   bench_pictures [--products N] [--dots D] [--colour 0|1]
// Defaults: 40 products, 5 dots per image, grey. Prints the median, 90th percentile and
// mean per product, and a digest of every picture drawn: a faster drawing must print the
// same digest as the one it replaces.
#include "BenchOptions.h"
#include "BoxImageGenerator.h"

#include <opencv2/core/utility.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <vector>

namespace {

void report(const char *what, std::vector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    const double mean = std::accumulate(ms.begin(), ms.end(), 0.0) / ms.size();
    std::printf("%-28s median %7.1f ms   p90 %7.1f ms   mean %7.1f ms   (%zu products)\n", what,
                ms[ms.size() / 2], ms[std::min(ms.size() - 1, ms.size() * 9 / 10)], mean, ms.size());
}

} // namespace

int main(int argc, char *argv[])
{
    int products = 40, dots = 5;
    bool colour = false;
    if (!optionsKnown(argc, argv, {"--products", "--dots", "--colour"},
                      "bench_pictures [--products N] [--dots D] [--colour 0|1]"))
        return 2;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--products"))
            products = std::max(1, std::atoi(argv[i + 1]));
        else if (!std::strcmp(argv[i], "--dots"))
            dots = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--colour"))
            colour = std::atoi(argv[i + 1]) != 0;
    }
    cv::setNumThreads(1); // as the station sets it on a machine without CUDA
    using Clock = std::chrono::steady_clock;
    const BoxImageGenerator generator(1);
    generator.product(1000000, colour, dots); // first-call costs out of the figures
    std::vector<double> ms;
    std::uint64_t digest = 1469598103934665603ULL; // FNV-1a over every byte of every product
    for (int i = 0; i < products; ++i) {
        const auto t0 = Clock::now();
        const BoxImageGenerator::Product p = generator.product(i, colour, dots);
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        const cv::Mat &m = p.stacked;
        for (int r = 0; r < m.rows; ++r) {
            const uchar *row = m.ptr(r);
            for (size_t k = 0; k < m.cols * m.elemSize(); ++k)
                digest = (digest ^ row[k]) * 1099511628211ULL;
        }
    }
    report("BoxImageGenerator::product", ms);
    std::printf("digest of the pictures: %016llx\n", static_cast<unsigned long long>(digest));
    return 0;
}
