// gigecam: one simulated GigE Vision camera with its packing line, until SIGTERM or SIGINT.
// Run it inside scripts/in-netns.sh only. See --help.
#include "GigeSimCamera.h"

#include "FolderFrameSource.h"
#include "GeneratedFrameSource.h"
#include "PatternFrameSource.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <getopt.h>
#include <string>
#include <thread>

namespace {

std::atomic<bool> g_quit{false};

void onSignal(int)
{
    g_quit = true;
}

const char kUsage[] =
    "usage: gigecam [options]\n"
    "Serves one simulated GigE Vision camera on a loopback address, with the packing line that\n"
    "triggers it on Line0, and records its output lines and the ejector's account. Run it inside\n"
    "scripts/in-netns.sh only (GigE Vision discovery answers broadcasts).\n"
    "  --address A        camera address (127.0.0.2)\n"
    "  --serial S         serial number (GV02)\n"
    "  --vendor V         manufacturer name in the bootstrap (Gluebox), e.g. Basler, Hikrobot, Balluff\n"
    "  --model M          model name (GigeSim)\n"
    "  --user-id U        DeviceUserID (empty)\n"
    "  --width W --height H  picture size (728 x 544)\n"
    "  --pixel-format F   Mono8 (default), Mono16, RGB8, BayerRG8, BayerGR8, BayerGB8, BayerBG8\n"
    "  --ppm R            products per minute (60; 0: no line)\n"
    "  --shots N          shots per product (3)\n"
    "  --source S         pattern (default), generated, or a folder of box images\n"
    "  --ng-share X       share of NG products (0.05)\n"
    "  --seed N           seed of the products (1)\n"
    "  --dots N           dots per picture of the generated source (0: 3 to 10 at random)\n"
    "  --reject-line L    the ejector's output, Line1..Line4 (Line1)\n"
    "  --loss X           share of stream packets lost (0)\n"
    "  --tick-hz F        the camera's frame clock in triggered mode (100)\n"
    "  --genicam-xml F    a GenICam description of one's own instead of the built-in one\n"
    "  --report F         the report file, appended to (standard output)\n"
    "Report lines:\n"
    "  start <unix time> address=.. serial=.. vendor=.. ppm=.. shots=.. reject=..\n"
    "  line <unix time> Line<n> <0|1> at-ejector=<product|->\n"
    "  product <n> ng=<0|1> shots=<n> frames=<n> pulses=<n> ejected=<0|1> <correct|missed|wrong|good>\n"
    "  summary products=.. ng=.. judged=.. correct=.. missed=.. wrong=.. stray-pulses=.. reject-pulses=..\n"
    "          shots=.. frames=.. software-triggers=.. trigger-overruns=..\n";

double unixSeconds(std::chrono::system_clock::time_point t)
{
    return std::chrono::duration<double>(t.time_since_epoch()).count();
}

bool number(const char *text, double &value)
{
    char *end = nullptr;
    errno = 0;
    value = std::strtod(text, &end);
    return errno == 0 && end != text && *end == '\0';
}

void writeRecords(GigeSimCamera &camera, std::FILE *report)
{
    for (const auto &c : camera.takeLineChanges()) {
        if (c.atEjector >= 0)
            std::fprintf(report, "line %.6f Line%d %d at-ejector=%lld\n", unixSeconds(c.time), c.line,
                         c.level ? 1 : 0, static_cast<long long>(c.atEjector));
        else
            std::fprintf(report, "line %.6f Line%d %d at-ejector=-\n", unixSeconds(c.time), c.line,
                         c.level ? 1 : 0);
    }
    for (const auto &p : camera.takeJudged()) {
        const char *verdict = p.ng ? (p.ejected() ? "correct" : "missed") : (p.ejected() ? "wrong" : "good");
        std::fprintf(report, "product %llu ng=%d shots=%d frames=%d pulses=%d ejected=%d %s\n",
                     static_cast<unsigned long long>(p.product), p.ng ? 1 : 0, p.shots, p.frames, p.pulses,
                     p.ejected() ? 1 : 0, verdict);
    }
    std::fflush(report); // a camera killed outright leaves its record up to here
}

} // namespace

int main(int argc, char **argv)
{
    GigeSimCamera::Options o;
    std::string sourceName = "pattern";
    std::string reportPath;
    double ngShare = 0.05;
    double seed = 1;
    double dots = 0;
    enum { Address = 256, Serial, Vendor, Model, UserId, Width, Height, PixelFormat, Ppm, Shots, Source,
           NgShare, Seed, Dots, RejectLine, Loss, TickHz, GenicamXml, Report, Help };
    static const option longOptions[] = {
        {"address", required_argument, nullptr, Address},   {"serial", required_argument, nullptr, Serial},
        {"vendor", required_argument, nullptr, Vendor},     {"model", required_argument, nullptr, Model},
        {"user-id", required_argument, nullptr, UserId},    {"width", required_argument, nullptr, Width},
        {"height", required_argument, nullptr, Height},     {"pixel-format", required_argument, nullptr, PixelFormat},
        {"ppm", required_argument, nullptr, Ppm},           {"shots", required_argument, nullptr, Shots},
        {"source", required_argument, nullptr, Source},     {"ng-share", required_argument, nullptr, NgShare},
        {"seed", required_argument, nullptr, Seed},         {"dots", required_argument, nullptr, Dots},
                {"reject-line", required_argument, nullptr, RejectLine},
        {"loss", required_argument, nullptr, Loss},         {"tick-hz", required_argument, nullptr, TickHz},
        {"genicam-xml", required_argument, nullptr, GenicamXml}, {"report", required_argument, nullptr, Report},
        {"help", no_argument, nullptr, Help},               {nullptr, 0, nullptr, 0}};
    for (;;) {
        const int c = getopt_long(argc, argv, "", longOptions, nullptr);
        if (c == -1)
            break;
        double v = 0;
        const bool isNumber = optarg && number(optarg, v);
        auto needNumber = [&]() {
            if (!isNumber) {
                std::fprintf(stderr, "gigecam: not a number: %s\n", optarg);
                std::exit(2);
            }
            return v;
        };
        switch (c) {
        case Address: o.address = optarg; break;
        case Serial: o.serial = optarg; break;
        case Vendor: o.vendor = optarg; break;
        case Model: o.model = optarg; break;
        case UserId: o.userId = optarg; break;
        case Width: o.width = int(needNumber()); break;
        case Height: o.height = int(needNumber()); break;
        case PixelFormat: o.pixelFormat = optarg; break;
        case Ppm: o.productsPerMinute = needNumber(); break;
        case Shots: o.shotsPerProduct = int(needNumber()); break;
        case Source: sourceName = optarg; break;
        case NgShare: ngShare = needNumber(); break;
        case Seed: seed = needNumber(); break;
        case Dots: dots = needNumber(); break;
        case RejectLine: o.rejectLine = optarg; break;
        case Loss: o.packetLossRatio = needNumber(); break;
        case TickHz: o.triggerTickHz = needNumber(); break;
        case GenicamXml: o.genicamXml = optarg; break;
        case Report: reportPath = optarg; break;
        case Help: std::fputs(kUsage, stdout); return 0;
        default: std::fputs(kUsage, stderr); return 2;
        }
    }
    if (optind < argc) {
        std::fputs(kUsage, stderr);
        return 2;
    }

    if (sourceName == "pattern") {
        o.source = std::make_shared<PatternFrameSource>(o.width, o.height, ngShare, unsigned(seed));
    } else if (sourceName == "generated") {
        o.source = std::make_shared<GeneratedFrameSource>(uint64_t(seed), ngShare, o.pixelFormat == "RGB8"
                                                          || o.pixelFormat.rfind("Bayer", 0) == 0, int(dots));
    } else {
        auto folder = std::make_shared<FolderFrameSource>(sourceName);
        if (folder->isEmpty()) {
            std::fprintf(stderr, "gigecam: no box images in %s\n", sourceName.c_str());
            return 2;
        }
        o.source = folder;
    }

    std::FILE *report = stdout;
    if (!reportPath.empty()) {
        report = std::fopen(reportPath.c_str(), "a");
        if (!report) {
            std::fprintf(stderr, "gigecam: cannot open %s: %s\n", reportPath.c_str(), std::strerror(errno));
            return 1;
        }
    }

    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);

    GigeSimCamera camera(o);
    std::string error;
    if (!camera.start(&error)) {
        std::fprintf(stderr, "gigecam: %s\n", error.c_str());
        return 1;
    }
    std::fprintf(report, "start %.6f address=%s serial=%s vendor=%s ppm=%g shots=%d reject=%s loss=%g\n",
                 unixSeconds(std::chrono::system_clock::now()), o.address.c_str(), o.serial.c_str(),
                 o.vendor.c_str(), o.productsPerMinute, o.shotsPerProduct, o.rejectLine.c_str(),
                 o.packetLossRatio);
    std::fflush(report);
    while (!g_quit) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        writeRecords(camera, report);
    }
    camera.stop();
    writeRecords(camera, report);
    const GigeSimCamera::Counters c = camera.counters();
    std::fprintf(report,
                 "summary products=%llu ng=%llu judged=%llu correct=%llu missed=%llu wrong=%llu "
                 "stray-pulses=%llu reject-pulses=%llu shots=%llu frames=%llu software-triggers=%llu "
                 "trigger-overruns=%llu\n",
                 static_cast<unsigned long long>(c.products), static_cast<unsigned long long>(c.ngProducts),
                 static_cast<unsigned long long>(c.judged), static_cast<unsigned long long>(c.correctEjections),
                 static_cast<unsigned long long>(c.missedEjections), static_cast<unsigned long long>(c.wrongEjections),
                 static_cast<unsigned long long>(c.strayPulses), static_cast<unsigned long long>(c.rejectPulses),
                 static_cast<unsigned long long>(c.shots), static_cast<unsigned long long>(c.frames),
                 static_cast<unsigned long long>(c.softwareTriggers),
                 static_cast<unsigned long long>(c.triggerOverruns));
    if (report != stdout)
        std::fclose(report);
    return 0;
}
