// Labels a folder of box pictures with the station's current model, so that a person only
// corrects the labels in a labelling program instead of drawing every dot:
//   prelabel [--overwrite] [--cut N] STATION_DIR DIR [OUT_DIR]
// STATION_DIR holds model/ and bin/alg_jd.jpg, as for gluegen_eval. Each picture in DIR
// (.jpg, .jpeg, .png, .bmp) gets a YOLO/Darknet label file beside it: NAME.txt, one line
// "class cx cy w h" per dot, all four from 0 to 1 of the picture's size, and the folder a
// classes.txt with the model's class names. A picture that already has a label file keeps
// it, since a person may have corrected it, unless --overwrite.
// --cut N: the pictures are whole frames of N images stacked top to bottom (the station's
// ALL/ folders); each is cut as the station cuts it and written to OUT_DIR as NAME_K.png
// with its labels, K from 0, so that every picture there is one the network sees.
#include "GlueDotDetector.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

int usage(const char *argv0)
{
    std::fprintf(stderr, "usage: %s [--overwrite] [--cut N] STATION_DIR DIR [OUT_DIR]\n", argv0);
    return 2;
}

QByteArray labelText(const std::vector<Detection> &found, cv::Size size)
{
    QByteArray text;
    for (const Detection &d : found) {
        // The drawn box may reach past the picture's edge; labels stay inside it.
        const double x0 = std::clamp(double(d.x), 0.0, double(size.width));
        const double y0 = std::clamp(double(d.y), 0.0, double(size.height));
        const double x1 = std::clamp(double(d.x + d.width), 0.0, double(size.width));
        const double y1 = std::clamp(double(d.y + d.height), 0.0, double(size.height));
        if (x1 <= x0 || y1 <= y0)
            continue;
        text += QByteArray::number(d.classId) + ' ' + QByteArray::number((x0 + x1) / 2 / size.width, 'f', 6) + ' '
            + QByteArray::number((y0 + y1) / 2 / size.height, 'f', 6) + ' '
            + QByteArray::number((x1 - x0) / size.width, 'f', 6) + ' '
            + QByteArray::number((y1 - y0) / size.height, 'f', 6) + '\n';
    }
    return text;
}

bool writeFile(const QString &path, const QByteArray &text)
{
    QSaveFile file(path); // whole or not at all: a label file cut short is a wrong label
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size() && file.commit();
}

struct Counts
{
    int labelled = 0, dots = 0, kept = 0, unreadable = 0, failed = 0;
};

} // namespace

int main(int argc, char *argv[])
{
    bool overwrite = false;
    int cut = 0;
    int arg = 1;
    for (; arg < argc; ++arg) {
        if (std::strcmp(argv[arg], "--overwrite") == 0) {
            overwrite = true;
        } else if (std::strcmp(argv[arg], "--cut") == 0 && arg + 1 < argc) {
            char *end = nullptr;
            cut = int(std::strtol(argv[++arg], &end, 10));
            if (*end || cut < 1 || cut > 16) {
                std::fprintf(stderr, "%s: --cut takes 1 to 16 images a frame\n", argv[0]);
                return 2;
            }
        } else {
            break;
        }
    }
    if (argc - arg != 2 && argc - arg != 3)
        return usage(argv[0]);
    const QDir in(QDir(QString::fromLocal8Bit(argv[arg + 1])).absolutePath());
    const QDir out(QDir(QString::fromLocal8Bit(argc - arg == 3 ? argv[arg + 2] : argv[arg + 1])).absolutePath());
    if (!in.exists()) {
        std::fprintf(stderr, "%s: no folder %s\n", argv[0], qPrintable(in.path()));
        return 2;
    }
    if (out != in && !cut) {
        std::fprintf(stderr, "%s: OUT_DIR goes with --cut; otherwise the labels go beside the pictures\n", argv[0]);
        return 2;
    }
    if (!QDir().mkpath(out.path())) {
        std::fprintf(stderr, "%s: cannot make %s\n", argv[0], qPrintable(out.path()));
        return 2;
    }
    if (!QDir::setCurrent(QDir(QString::fromLocal8Bit(argv[arg])).filePath(QStringLiteral("bin")))) {
        std::fprintf(stderr, "%s: no bin/ folder in %s\n", argv[0], argv[arg]);
        return 2;
    }
    GlueDotDetector detector;
    try {
        if (!detector.initDetector()) {
            std::fprintf(stderr, "%s: the model in %s fails its self-check\n", argv[0], argv[arg]);
            return 1;
        }
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s: the model in %s fails its self-check: %s\n", argv[0], argv[arg], e.what());
        return 1;
    }

    QByteArray classes;
    for (const std::string &name : GlueDotDetector::classNames)
        classes += QByteArray::fromStdString(name) + '\n';
    if (!QFileInfo::exists(out.filePath(QStringLiteral("classes.txt"))))
        writeFile(out.filePath(QStringLiteral("classes.txt")), classes);

    Counts n;
    // One picture and the file its labels go to.
    auto label = [&](const cv::Mat &image, const QString &labelPath) {
        if (!overwrite && QFileInfo::exists(labelPath)) {
            ++n.kept;
            return;
        }
        cv::Mat drawn;
        std::vector<Detection> found;
        detector.detectOne(image, drawn, found);
        if (!writeFile(labelPath, labelText(found, image.size()))) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(labelPath));
            ++n.failed;
            return;
        }
        ++n.labelled;
        n.dots += int(found.size());
    };
    const QStringList pictures = in.entryList({QStringLiteral("*.jpg"), QStringLiteral("*.jpeg"),
                                               QStringLiteral("*.png"), QStringLiteral("*.bmp")},
                                              QDir::Files, QDir::Name | QDir::IgnoreCase);
    for (const QString &name : pictures) {
        const QString stem = QFileInfo(name).completeBaseName();
        cv::Mat image = cv::imread(in.filePath(name).toStdString(), cv::IMREAD_COLOR);
        if (image.empty() || image.rows < std::max(cut, 1)) {
            std::fprintf(stderr, "cannot read %s as a picture\n", qPrintable(in.filePath(name)));
            ++n.unreadable;
            continue;
        }
        if (!cut) {
            label(image, in.filePath(stem + QStringLiteral(".txt")));
            continue;
        }
        const int h = image.rows / cut;
        for (int k = 0; k < cut; ++k) {
            const QString partStem = out.filePath(stem + QLatin1Char('_') + QString::number(k));
            const cv::Mat part = image(cv::Rect(0, k * h, image.cols, h));
            const QString partPath = partStem + QStringLiteral(".png");
            if (!QFileInfo::exists(partPath) && !cv::imwrite(partPath.toStdString(), part)) {
                std::fprintf(stderr, "cannot write %s\n", qPrintable(partPath));
                ++n.failed;
                continue;
            }
            label(part, partStem + QStringLiteral(".txt"));
        }
    }
    std::printf("%d pictures labelled with %d dots, %d already labelled and kept, %d unreadable, %d not written\n",
                n.labelled, n.dots, n.kept, n.unreadable, n.failed);
    return n.failed ? 1 : 0;
}
