// Writes generated box pictures with Darknet labels, whole products, or a warm-up image.
//   gluegen pictures DIR FIRST COUNT [SEED]   DIR/pic_NNNNNN.jpg + .txt (one "0 cx cy w h" per dot)
//   gluegen smallprint DIR FIRST COUNT [SEED] as pictures, with more print of a dot's size (for training)
//   gluegen smalldots DIR FIRST COUNT [SEED]  as smallprint, with the smallest dots only (for training)
//   gluegen varied DIR FIRST COUNT [SEED]     glue of every profile and gloss, over print too (for training)
//   gluegen products DIR FIRST COUNT [SEED]   DIR/prod_NNNNNN.jpg (three images stacked) + .txt
//   gluegen warmup FILE [SEED]                one colour picture with dots (the station's alg_jd.jpg)
// The same SEED and index always give the same picture.
#include "BoxImageGenerator.h"

#include <opencv2/imgcodecs.hpp>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

namespace {

int usage(const char *argv0)
{
    std::fprintf(stderr,
                 "usage: %s pictures DIR FIRST COUNT [SEED]\n"
                 "       %s smallprint DIR FIRST COUNT [SEED]\n"
                 "       %s smalldots DIR FIRST COUNT [SEED]\n"
                 "       %s varied DIR FIRST COUNT [SEED]\n"
                 "       %s products DIR FIRST COUNT [SEED]\n"
                 "       %s warmup FILE [SEED]\n",
                 argv0, argv0, argv0, argv0, argv0, argv0);
    return 2;
}

const std::vector<int> kJpeg = {cv::IMWRITE_JPEG_QUALITY, 95};

bool writeText(const std::string &path, const std::string &text)
{
    std::ofstream f(path);
    f << text;
    return bool(f);
}

std::string numbered(const std::string &dir, const char *prefix, int index, const char *suffix)
{
    char name[64];
    std::snprintf(name, sizeof name, "/%s_%06d%s", prefix, index, suffix);
    return dir + name;
}

int cannotWrite(const char *argv0, const std::string &dir)
{
    std::fprintf(stderr, "%s: cannot write into %s\n", argv0, dir.c_str());
    return 1;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 3)
        return usage(argv[0]);
    const std::string mode = argv[1];
    if (mode == "warmup") {
        const BoxImageGenerator gen(argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 7);
        BoxImageGenerator::Options o;
        o.colour = true;
        o.minDots = 6;
        o.maxDots = 8;
        o.distractors = false;
        const BoxImageGenerator::Picture p = gen.picture(0, o);
        if (!cv::imwrite(argv[2], p.image, kJpeg)) {
            std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[2]);
            return 1;
        }
        std::printf("%s: %zu dots\n", argv[2], p.dots.size());
        return 0;
    }
    if (argc < 5 || (mode != "pictures" && mode != "smallprint" && mode != "smalldots" && mode != "varied"
                      && mode != "products"))
        return usage(argv[0]);
    const std::string dir = argv[2];
    const int first = std::atoi(argv[3]);
    const int count = std::atoi(argv[4]);
    const BoxImageGenerator gen(argc > 5 ? std::strtoull(argv[5], nullptr, 10) : 1);
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) {
        std::fprintf(stderr, "%s: cannot create %s: %s\n", argv[0], dir.c_str(), ec.message().c_str());
        return 1;
    }
    for (int i = first; i < first + count; ++i) {
        if (mode != "products") {
            BoxImageGenerator::Options o = gen.pictureOptions(i);
            o.smallPrint = mode == "smallprint" || mode == "smalldots" || (mode == "varied" && i % 2);
            o.smallDots = mode == "smalldots" || (mode == "varied" && i % 5 == 0);
            o.varied = mode == "varied";
            const BoxImageGenerator::Picture p = gen.picture(i, o);
            if (!cv::imwrite(numbered(dir, "pic", i, ".jpg"), p.image, kJpeg)
                || !writeText(numbered(dir, "pic", i, ".txt"), BoxImageGenerator::darknetLabels(p)))
                return cannotWrite(argv[0], dir);
        } else {
            const BoxImageGenerator::Product p = gen.product(i, i % 4 == 3);
            char head[128];
            std::snprintf(head, sizeof head, "expected %d %d %d\ndefect %s %d\n", p.expected[0], p.expected[1],
                          p.expected[2], BoxImageGenerator::defectName(p.defect), p.defectImage);
            std::string text = head;
            for (int k = 0; k < 3; ++k)
                text += "image " + std::to_string(k) + "\n" + BoxImageGenerator::darknetLabels(p.images[k]);
            if (!cv::imwrite(numbered(dir, "prod", i, ".jpg"), p.stacked, kJpeg)
                || !writeText(numbered(dir, "prod", i, ".txt"), text))
                return cannotWrite(argv[0], dir);
        }
    }
    return 0;
}
