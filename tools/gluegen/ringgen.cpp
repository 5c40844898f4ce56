// Box pictures from RingLightRenderer, in the layout gluegen_eval reads, to measure the model
// on glue drawn another way than the pictures it was trained on.
//   ringgen pictures DIR FIRST COUNT [SEED]   pic_NNNNNN.jpg/.txt, one Darknet line per dot
//   ringgen products DIR FIRST COUNT [SEED]   prod_NNNNNN.jpg/.txt, three views stacked
#include "DarknetLabels.h"
#include "RingLightRenderer.h"

#include <opencv2/imgcodecs.hpp>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <string>
#include <vector>

namespace {

int usage(const char *program)
{
    std::fprintf(stderr,
                 "usage: %s pictures|products DIR FIRST COUNT [SEED]\n"
                 "  pictures: DIR/pic_NNNNNN.jpg and .txt (one line \"0 cx cy w h\" per glue dot)\n"
                 "  products: DIR/prod_NNNNNN.jpg (three 728x544 views stacked) and .txt\n"
                 "  FIRST, COUNT: whole numbers >= 0 (COUNT >= 1); SEED: whole number >= 0, default 1\n",
                 program);
    return 2;
}

bool wholeNumber(const char *text, long long max, long long &value)
{
    if (!*text || *text == '-' || *text == '+')
        return false;
    char *end = nullptr;
    errno = 0;
    const unsigned long long v = std::strtoull(text, &end, 10);
    if (*end || errno == ERANGE || v > static_cast<unsigned long long>(max))
        return false;
    value = static_cast<long long>(v);
    return true;
}

std::string name(const std::string &dir, const char *prefix, long index, const char *suffix)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%s_%06ld%s", prefix, index, suffix);
    return dir + "/" + buffer;
}

void writeLabels(std::ofstream &out, const std::vector<RingLightRenderer::Dot> &dots)
{
    std::vector<cv::Rect2d> boxes;
    for (const RingLightRenderer::Dot &dot : dots)
        boxes.push_back(dot.box);
    out << darknetLabels(boxes, cv::Size(RingLightRenderer::Width, RingLightRenderer::Height));
}

bool writeImage(const std::string &path, const cv::Mat &image)
{
    try {
        return cv::imwrite(path, image, {cv::IMWRITE_JPEG_QUALITY, 95});
    } catch (const cv::Exception &) {
        return false;
    }
}

int cannotWrite(const std::string &path)
{
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    return 1;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 5 || argc > 6)
        return usage(argv[0]);
    const std::string mode = argv[1];
    const std::string dir = argv[2];
    long long first = 0, count = 0, seed = 1;
    if ((mode != "pictures" && mode != "products") || dir.empty() || !wholeNumber(argv[3], 999999, first) ||
        !wholeNumber(argv[4], 1000000, count) || count < 1 || first + count > 1000000 ||
        (argc == 6 && !wholeNumber(argv[5], 0x7fffffffffffffffLL, seed)))
        return usage(argv[0]);

    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) {
        std::fprintf(stderr, "cannot create %s: %s\n", dir.c_str(), ec.message().c_str());
        return 1;
    }
    const RingLightRenderer renderer(static_cast<std::uint64_t>(seed));
    for (long index = long(first); index < long(first + count); ++index) {
        if (mode == "pictures") {
            const RingLightRenderer::Picture p = renderer.picture(index);
            const std::string jpg = name(dir, "pic", index, ".jpg"), txt = name(dir, "pic", index, ".txt");
            if (!writeImage(jpg, p.image))
                return cannotWrite(jpg);
            std::ofstream out(txt);
            writeLabels(out, p.dots);
            if (!out.flush())
                return cannotWrite(txt);
        } else {
            const RingLightRenderer::Product p = renderer.product(index);
            cv::Mat stacked;
            cv::vconcat(std::vector<cv::Mat>{p.images[0].image, p.images[1].image, p.images[2].image}, stacked);
            const std::string jpg = name(dir, "prod", index, ".jpg"), txt = name(dir, "prod", index, ".txt");
            if (!writeImage(jpg, stacked))
                return cannotWrite(jpg);
            std::ofstream out(txt);
            out << "expected " << p.expected << ' ' << p.expected << ' ' << p.expected << '\n'
                << "defect " << RingLightRenderer::defectName(p.defect) << ' ' << p.defectImage << '\n';
            for (int i = 0; i < 3; ++i) {
                out << "image " << i << '\n';
                writeLabels(out, p.images[i].dots);
            }
            if (!out.flush())
                return cannotWrite(txt);
        }
    }
    return 0;
}
