// Runs the station's own GlueDotDetector over a folder written by gluegen and prints how
// well it does at the station's thresholds.
//   gluegen_eval [-v] [-s SHEET.png] STATION_DIR DATA_DIR
// STATION_DIR holds model/ and bin/alg_jd.jpg (the repository's station/ folder, or one
// laid out by hand); DATA_DIR holds pic_*.jpg/.txt (or .png, .bmp) and prod_*.jpg/.txt. -s writes a contact
// sheet of every missed dot (red) and false dot (yellow), for a person to look at.
// Dots match at IoU >= 0.5, one label to one detection, best pairs first. Of the rest, a label
// and a detection whose centres each lie in the other's box are counted apart as "found,
// outlined otherwise": the dot was seen, its box drawn larger or smaller. A product is NG
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

cv::Rect2d rectOf(const Detection &d) { return cv::Rect2d(d.x, d.y, d.width, d.height); }

// Crops around each missed and each false dot, eight to a row, with the picture's name.
class ContactSheet
{
public:
    static constexpr int kCell = 160, kCaption = 18, kColumns = 8, kMostCells = 400;

    void add(const cv::Mat &image, const cv::Rect2d &box, bool missed, const std::string &name)
    {
        if (int(m_cells.size()) >= kMostCells) {
            ++m_left;
            return;
        }
        const double side = std::max({80.0, box.width * 1.8, box.height * 1.8});
        const cv::Point2d c(box.x + box.width / 2, box.y + box.height / 2);
        const cv::Rect want(int(c.x - side / 2), int(c.y - side / 2), int(side), int(side));
        const cv::Rect have = want & cv::Rect(0, 0, image.cols, image.rows);
        cv::Mat crop(want.size(), image.type(), cv::Scalar::all(0));
        image(have).copyTo(crop(have - want.tl()));
        cv::Mat bgr;
        if (crop.channels() == 1)
            cv::cvtColor(crop, bgr, cv::COLOR_GRAY2BGR);
        else
            bgr = crop;
        const double scale = double(kCell) / side;
        cv::Mat cell(kCell + kCaption, kCell, CV_8UC3, cv::Scalar::all(0));
        cv::resize(bgr, cell(cv::Rect(0, 0, kCell, kCell)), cv::Size(kCell, kCell), 0, 0, cv::INTER_NEAREST);
        const cv::Rect drawn(int((box.x - want.x) * scale), int((box.y - want.y) * scale), int(box.width * scale),
                             int(box.height * scale));
        cv::rectangle(cell, drawn, missed ? cv::Scalar(0, 0, 255) : cv::Scalar(0, 220, 255), 1);
        cv::putText(cell, name, cv::Point(2, kCell + 13), cv::FONT_HERSHEY_PLAIN, 0.8, cv::Scalar::all(255), 1);
        m_cells.push_back(cell);
    }

    bool write(const std::string &path) const
    {
        const int rows = std::max(1, (int(m_cells.size()) + kColumns - 1) / kColumns);
        cv::Mat sheet(rows * (kCell + kCaption), kColumns * kCell, CV_8UC3, cv::Scalar::all(40));
        for (int i = 0; i < int(m_cells.size()); ++i)
            m_cells[i].copyTo(sheet(cv::Rect(i % kColumns * kCell, i / kColumns * (kCell + kCaption), kCell,
                                             kCell + kCaption)));
        if (m_left)
            std::printf("contact sheet: %d more not shown\n", m_left);
        return cv::imwrite(path, sheet);
    }

    int size() const { return int(m_cells.size()) + m_left; }

private:
    std::vector<cv::Mat> m_cells;
    int m_left = 0;
};

bool holds(const cv::Rect2d &box, const cv::Rect2d &other)
{
    return box.contains(cv::Point2d(other.x + other.width / 2, other.y + other.height / 2));
}

struct Tally
{
    long tp = 0, fp = 0, fn = 0;
    long outlinedOtherwise = 0; // missed and false at once: the same dot, another box
    double iouSum = 0;

    // Adds one image's dots; the unmatched ones go on the sheet, when there is one.
    void add(const std::vector<cv::Rect2d> &truth, const std::vector<Detection> &found,
             ContactSheet *sheet = nullptr, const cv::Mat &image = {}, const std::string &name = {})
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
                const double v = iou(truth[t], rectOf(d));
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
        std::vector<bool> pairedF = usedF;
        for (int t = 0; t < int(truth.size()); ++t)
            for (int f = 0; f < int(found.size()) && !usedT[t]; ++f)
                if (!pairedF[f] && holds(truth[t], rectOf(found[f])) && holds(rectOf(found[f]), truth[t])) {
                    pairedF[f] = true;
                    ++outlinedOtherwise;
                    break;
                }
        if (!sheet)
            return;
        for (int t = 0; t < int(truth.size()); ++t)
            if (!usedT[t])
                sheet->add(image, truth[t], true, name);
        for (int f = 0; f < int(found.size()); ++f)
            if (!usedF[f])
                sheet->add(image, rectOf(found[f]), false, name);
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
    std::string sheetPath;
    int arg = 1;
    for (; arg < argc; ++arg) {
        if (std::strcmp(argv[arg], "-v") == 0)
            verbose = true;
        else if (std::strcmp(argv[arg], "-s") == 0 && arg + 1 < argc)
            sheetPath = argv[++arg];
        else
            break;
    }
    if (argc - arg != 2) {
        std::fprintf(stderr, "usage: %s [-v] [-s SHEET.png] STATION_DIR DATA_DIR\n", argv[0]);
        return 2;
    }
    ContactSheet sheetStore;
    ContactSheet *sheet = sheetPath.empty() ? nullptr : &sheetStore;
    const QString data = QDir(QString::fromLocal8Bit(argv[arg + 1])).absolutePath();
    if (!QDir::setCurrent(QDir(QString::fromLocal8Bit(argv[arg])).filePath(QStringLiteral("bin")))) {
        std::fprintf(stderr, "no bin/ folder in %s\n", argv[arg]);
        return 2;
    }
    GlueDotDetector detector;
    try {
        if (!detector.initDetector()) {
            std::fprintf(stderr, "the model fails its self-check: nothing found on bin/alg_jd.jpg\n");
            return 1;
        }
    } catch (const std::exception &e) {
        std::fprintf(stderr, "the model fails its self-check: %s\n", e.what());
        return 1;
    }
    const QDir dir(data);

    Tally pictures;
    std::vector<double> pictureMs;
    for (const QString &name : dir.entryList({QStringLiteral("pic_*.jpg"), QStringLiteral("pic_*.png"), QStringLiteral("pic_*.bmp")},
                                              QDir::Files, QDir::Name)) {
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
        pictures.add(truth, found, sheet, image, name.toStdString());
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
            productDots.add(truth[i], results[i], sheet, parts[i], name.toStdString() + "/" + std::to_string(i));
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
        if (t.outlinedOtherwise)
            std::printf("  missed and false at once, the same dot outlined otherwise"
                        " (IoU < 0.5, each centre in the other's box): %ld\n",
                        t.outlinedOtherwise);
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
    if (sheet) {
        if (!sheet->write(sheetPath)) {
            std::fprintf(stderr, "cannot write %s\n", sheetPath.c_str());
            return 1;
        }
        std::printf("contact sheet: %d missed and false dots in %s\n", sheet->size(), sheetPath.c_str());
    }
    return 0;
}
