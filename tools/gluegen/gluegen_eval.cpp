// Runs the station's own GlueDotDetector over a folder written by gluegen and prints how
// well it does at the station's thresholds.
//   gluegen_eval [-v] STATION_DIR DATA_DIR
// STATION_DIR holds model/ and bin/alg_jd.jpg (the repository's station/ folder, or one
// laid out by hand); DATA_DIR holds pic_*.jpg/.txt and prod_*.jpg/.txt.
// Dots match at IoU >= 0.5, one label to one detection, best pairs first. A product is NG
// when an image has fewer dots than expected; it should be NG exactly when it has a defect.
#include "GlueDotDetector.h"

#include <QDir>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

std::vector<cv::Rect2d> readLabels(std::istream &in, cv::Size size, const std::string &stopAt = {})
{
    std::vector<cv::Rect2d> boxes;
    std::string line;
    while (in.peek() != EOF) {
        const auto mark = in.tellg();
        if (!std::getline(in, line))
            break;
        if (!stopAt.empty() && line.rfind(stopAt, 0) == 0) {
            in.seekg(mark);
            break;
        }
        std::istringstream s(line);
        int cls;
        double cx, cy, w, h;
        if (s >> cls >> cx >> cy >> w >> h)
            boxes.emplace_back((cx - w / 2) * size.width, (cy - h / 2) * size.height, w * size.width,
                               h * size.height);
    }
    return boxes;
}

double iou(const cv::Rect2d &a, const cv::Rect2d &b)
{
    const double inter = (a & b).area();
    const double uni = a.area() + b.area() - inter;
    return uni > 0 ? inter / uni : 0.0;
}

struct Tally
{
    long tp = 0, fp = 0, fn = 0;
    double iouSum = 0;

    void add(const std::vector<cv::Rect2d> &truth, const std::vector<Detection> &found)
    {
        struct Pair
        {
            double iou;
            int t, f;
        };
        std::vector<Pair> pairs;
        for (int t = 0; t < int(truth.size()); ++t)
            for (int f = 0; f < int(found.size()); ++f) {
                const Detection &d = found[f];
                const double v = iou(truth[t], cv::Rect2d(d.x, d.y, d.width, d.height));
                if (v >= 0.5)
                    pairs.push_back({v, t, f});
            }
        std::sort(pairs.begin(), pairs.end(), [](const Pair &a, const Pair &b) { return a.iou > b.iou; });
        std::vector<bool> usedT(truth.size()), usedF(found.size());
        long matched = 0;
        for (const Pair &p : pairs) {
            if (usedT[p.t] || usedF[p.f])
                continue;
            usedT[p.t] = usedF[p.f] = true;
            ++matched;
            iouSum += p.iou;
        }
        tp += matched;
        fp += long(found.size()) - matched;
        fn += long(truth.size()) - matched;
    }
};

double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

} // namespace

int main(int argc, char *argv[])
{
    bool verbose = false;
    int arg = 1;
    if (arg < argc && std::strcmp(argv[arg], "-v") == 0) {
        verbose = true;
        ++arg;
    }
    if (argc - arg != 2) {
        std::fprintf(stderr, "usage: %s [-v] STATION_DIR DATA_DIR\n", argv[0]);
        return 2;
    }
    const QString data = QDir(QString::fromLocal8Bit(argv[arg + 1])).absolutePath();
    if (!QDir::setCurrent(QDir(QString::fromLocal8Bit(argv[arg])).filePath(QStringLiteral("bin")))) {
        std::fprintf(stderr, "no bin/ folder in %s\n", argv[arg]);
        return 2;
    }
    GlueDotDetector detector;
    if (!detector.initDetector()) {
        std::fprintf(stderr, "initDetector failed\n");
        return 1;
    }
    const QDir dir(data);

    Tally pictures;
    std::vector<double> pictureMs;
    for (const QString &name : dir.entryList({QStringLiteral("pic_*.jpg")}, QDir::Files, QDir::Name)) {
        const std::string path = dir.filePath(name).toStdString();
        const cv::Mat image = cv::imread(path, cv::IMREAD_COLOR);
        std::ifstream labels(path.substr(0, path.size() - 4) + ".txt");
        const std::vector<cv::Rect2d> truth = readLabels(labels, image.size());
        cv::Mat drawn;
        std::vector<Detection> found;
        const auto t0 = Clock::now();
        detector.detectOne(image, drawn, found);
        pictureMs.push_back(ms(Clock::now() - t0));
        const Tally before = pictures;
        pictures.add(truth, found);
        if (verbose && (pictures.fp != before.fp || pictures.fn != before.fn))
            std::printf("%s: %zu dots, %zu found, %ld missed, %ld extra\n", name.toUtf8().constData(), truth.size(),
                        found.size(), pictures.fn - before.fn, pictures.fp - before.fp);
    }

    long products = 0, right = 0, passedNg = 0, rejectedGood = 0;
    Tally productDots;
    std::vector<double> productMs;
    for (const QString &name : dir.entryList({QStringLiteral("prod_*.jpg")}, QDir::Files, QDir::Name)) {
        const std::string path = dir.filePath(name).toStdString();
        cv::Mat stacked = cv::imread(path, cv::IMREAD_UNCHANGED);
        if (stacked.channels() == 1)
            cv::cvtColor(stacked, stacked, cv::COLOR_GRAY2BGR); // as the work thread does
        std::ifstream text(path.substr(0, path.size() - 4) + ".txt");
        std::string word, defect;
        int expected[3] = {0, 0, 0}, defectImage = -1;
        text >> word >> expected[0] >> expected[1] >> expected[2] >> word >> defect >> defectImage;
        std::getline(text, word);
        const int h = stacked.rows / 3;
        std::vector<cv::Mat> parts;
        std::vector<std::vector<cv::Rect2d>> truth(3);
        for (int i = 0; i < 3; ++i) {
            parts.push_back(stacked(cv::Rect(0, i * h, stacked.cols, h)).clone());
            std::getline(text, word); // "image i"
            truth[i] = readLabels(text, parts[i].size(), "image");
        }
        std::vector<cv::Mat> drawn;
        std::vector<std::vector<Detection>> results;
        const auto t0 = Clock::now();
        detector.detectBatch(parts, drawn, results);
        productMs.push_back(ms(Clock::now() - t0));
        bool ng = false;
        for (int i = 0; i < 3; ++i) {
            ng = ng || int(results[i].size()) < expected[i];
            productDots.add(truth[i], results[i]);
        }
        const bool shouldBeNg = defect != "good";
        ++products;
        if (ng == shouldBeNg)
            ++right;
        else if (shouldBeNg)
            ++passedNg;
        else
            ++rejectedGood;
        if (verbose && ng != shouldBeNg)
            std::printf("%s: %s in image %d, counts %zu,%zu,%zu of %d,%d,%d\n", name.toUtf8().constData(),
                        defect.c_str(), defectImage, results[0].size(), results[1].size(), results[2].size(),
                        expected[0], expected[1], expected[2]);
    }

    auto report = [](const char *what, const Tally &t) {
        std::printf("%s: %ld labelled, %ld found; precision %.2f %%, recall %.2f %%, mean IoU %.3f\n", what,
                    t.tp + t.fn, t.tp + t.fp, t.tp + t.fp ? 100.0 * t.tp / (t.tp + t.fp) : 0.0,
                    t.tp + t.fn ? 100.0 * t.tp / (t.tp + t.fn) : 0.0, t.tp ? t.iouSum / t.tp : 0.0);
    };
    std::printf("pictures: %zu\n", pictureMs.size());
    report("dots in pictures", pictures);
    std::printf("detectOne per picture: median %.2f ms\n", median(pictureMs));
    std::printf("products: %ld\n", products);
    if (products) {
        report("dots in products", productDots);
        std::printf("verdicts right: %.2f %% (%ld of %ld; NG passed %ld, good rejected %ld)\n", 100.0 * right / products,
                    right, products, passedNg, rejectedGood);
        std::printf("detectBatch per product of 3: median %.2f ms\n", median(productMs));
    }
    return 0;
}
