#include "GlueDotDetector.h"

#include "GlueDotDecoding.h"
#include "StationPaths.h"

#include <opencv2/core/cuda.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <stdexcept>
#include <utility>

std::vector<std::string> GlueDotDetector::classNames;
std::vector<std::string> GlueDotDetector::outputLayerNames;
GlueDotDetector g_detector[4];

namespace {

constexpr double kPixelScale = 1.0 / 255.0;

} // namespace

// The blob blobFromImages(images, 1/255, input, mean 0, swapRB, no crop, CV_32F) makes:
// each image stretched by a bilinear resize of its 8-bit pixels, then scaled into planes
// R, G, B. OpenCV goes over the float image four times for that (convert, mean, scale,
// split); here the 8-bit image is split and each plane scaled into the blob, and the
// images of a batch share the cores.
// Anything but 8-bit three-channel images takes OpenCV's own path. `blob` keeps its
// memory from call to call when the batch size stays, instead of a fresh 6 MB allocation
// per product.
void GlueDotDetector::makeBlob(const std::vector<cv::Mat> &images, cv::Size input, cv::Mat &blob)
{
    const auto all = [&](int type) {
        return !images.empty() && std::all_of(images.begin(), images.end(), [type](const cv::Mat &m) {
            return m.type() == type && !m.empty();
        });
    };
    const int planes = all(CV_8UC3) ? 3 : all(CV_8UC1) ? 1 : 0;
    if (planes == 0) {
        blob = cv::dnn::blobFromImages(images, kPixelScale, input, cv::Scalar(0, 0, 0), true, false, CV_32F);
        return;
    }

    const int shape[] = {int(images.size()), planes, input.height, input.width};
    blob.create(4, shape, CV_32F);
    cv::parallel_for_(cv::Range(0, int(images.size())), [&](const cv::Range &range) {
        // Scratch kept by each thread: at this size a fresh buffer is a fresh mapping of
        // memory, paid for again in page faults on every product.
        thread_local cv::Mat resized, channels[3];
        for (int i = range.start; i < range.end; ++i) {
            const bool stretch = images[i].size() != input;
            if (stretch)
                cv::resize(images[i], resized, input, 0, 0, cv::INTER_LINEAR);
            const cv::Mat &sized = stretch ? resized : images[i];
            if (planes == 1) {
                sized.convertTo(cv::Mat(input, CV_32F, blob.ptr<float>(i, 0)), CV_32F, kPixelScale);
                continue;
            }
            // OpenCV's vectorised split and scaling; the blob's planes are R, G, B.
            cv::split(sized, channels);
            for (int c = 0; c < 3; ++c) {
                cv::Mat plane(input, CV_32F, blob.ptr<float>(i, c));
                channels[2 - c].convertTo(plane, CV_32F, kPixelScale);
            }
        }
    });
}

// A grey picture seen in three equal channels meets each tap of the first convolution with
// the same value three times: the sum of the tap's three weights on one channel gives the
// same sum for a third of the work, and a blob of one plane instead of three. So grey
// images go through a copy of the network whose first convolution takes one channel; its
// outputs equal the three-channel network's to rounding (about 1e-7). False, and `net`
// left as it was, when the network does not begin with a convolution over three channels.
bool GlueDotDetector::foldFirstLayerToGrey(cv::dnn::Net &net)
{
    const std::vector<std::string> names = net.getLayerNames();
    if (names.empty())
        return false;
    const int first = net.getLayerId(names.front());
    const cv::Ptr<cv::dnn::Layer> layer = net.getLayer(first);
    if (!layer || layer->type != "Convolution" || layer->blobs.empty())
        return false;
    const cv::Mat &weights = layer->blobs[0];
    if (weights.dims != 4 || weights.size[1] != 3 || weights.type() != CV_32F)
        return false;
    const int outputs = weights.size[0], taps = weights.size[2] * weights.size[3];
    const int shape[] = {outputs, 1, weights.size[2], weights.size[3]};
    cv::Mat summed(4, shape, CV_32F);
    for (int o = 0; o < outputs; ++o)
        for (int t = 0; t < taps; ++t) {
            const float *w = weights.ptr<float>(o);
            summed.ptr<float>(o)[t] = w[t] + w[taps + t] + w[2 * taps + t];
        }
    net.setParam(first, 0, summed);
    return true;
}

namespace {

bool cudaAvailable()
{
    const auto targets = cv::dnn::getAvailableTargets(cv::dnn::DNN_BACKEND_CUDA);
    if (std::find(targets.begin(), targets.end(), cv::dnn::DNN_TARGET_CUDA) == targets.end())
        return false;
    return cv::cuda::getCudaEnabledDeviceCount() > 0;
}

void drawAll(const std::vector<ScoredDetection> &found, cv::Mat &frame, std::vector<Detection> &detections)
{
    for (const ScoredDetection &d : found) {
        const Detection &box = d.detection;
        GlueDotDetector::drawDetection(box.classId, d.confidence, box.x, box.y, box.x + box.width,
                                       box.y + box.height, frame);
        detections.push_back(box);
    }
}

// The drawn image handed out: the frame itself when it is already 8-bit (it is a private
// copy), else its 8-bit conversion.
cv::Mat eightBit(cv::Mat frame)
{
    if (frame.depth() == CV_8U)
        return frame;
    cv::Mat converted;
    frame.convertTo(converted, CV_8U, 1.0, 0.0);
    return converted;
}

} // namespace

bool GlueDotDetector::chooseBackend()
{
    static const bool cuda = [] {
        const bool onCuda = cudaAvailable();
        if (onCuda) {
            std::printf("Glue-dot detector runs on CUDA.\n");
        } else {
            // Each position's inference stays on its own work thread, which yields to the
            // window and the capture side (a pool's threads would not share its lower
            // priority); one thread per network also costs less CPU than a pool over
            // every core.
            cv::setNumThreads(1);
            std::printf("Glue-dot detector runs on the CPU (no CUDA device).\n");
        }
        std::fflush(stdout);
        return onCuda;
    }();
    return cuda;
}

cv::Size GlueDotDetector::readInputSize(const std::string &cfgPath)
{
    std::ifstream cfg(cfgPath);
    if (!cfg.is_open())
        throw std::runtime_error(cfgPath + ": cannot be read");
    std::string line, section;
    int width = 0, height = 0;
    bool hasWidth = false, hasHeight = false;
    auto fail = [&](const std::string &why) { throw std::runtime_error(cfgPath + ": " + why); };
    while (std::getline(cfg, line)) {
        line.erase(std::remove_if(line.begin(), line.end(), [](unsigned char c) { return std::isspace(c); }),
                   line.end());
        if (line.empty() || line[0] == '#' || line[0] == ';')
            continue;
        if (line[0] == '[') {
            if (!section.empty())
                break; // [net] comes first; its keys end with it
            section = line;
            if (section != "[net]" && section != "[network]")
                fail("the first section is " + section + ", not [net]");
            continue;
        }
        const auto eq = line.find('=');
        if (section.empty() || eq == std::string::npos)
            continue;
        const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        if (key != "width" && key != "height")
            continue;
        char *end = nullptr;
        const long v = std::strtol(value.c_str(), &end, 10);
        if (value.empty() || *end != '\0' || v <= 0 || v > 8192 || v % 32 != 0)
            fail("[net] " + key + "=" + value + ": the input must be a positive multiple of 32 wide and high");
        (key == "width" ? width : height) = int(v);
        (key == "width" ? hasWidth : hasHeight) = true;
    }
    if (section.empty())
        fail("no [net] section");
    if (!hasWidth || !hasHeight)
        fail(std::string("[net] gives no ") + (hasWidth ? "height" : hasHeight ? "width" : "width and height")
             + ": the network's input size must be stated");
    return cv::Size(width, height);
}

bool GlueDotDetector::initDetector()
{
    std::ifstream names(StationPaths::modelNames().toStdString());
    if (!names.is_open())
        return false;
    std::vector<std::string> lines;
    for (std::string line; std::getline(names, line);)
        lines.push_back(line);
    classNames = std::move(lines);

    // Ahead of OpenCV's reader, which asserts on some bad sizes and lets others through to
    // fail at the first forward.
    const cv::Size input = readInputSize(StationPaths::modelConfig().toStdString());
    const auto load = [] {
        cv::dnn::Net net = cv::dnn::readNetFromDarknet(StationPaths::modelConfig().toStdString(),
                                                       StationPaths::modelWeights().toStdString());
        if (chooseBackend()) {
            net.setPreferableBackend(cv::dnn::DNN_BACKEND_CUDA);
            net.setPreferableTarget(cv::dnn::DNN_TARGET_CUDA);
        } else {
            net.setPreferableBackend(cv::dnn::DNN_BACKEND_OPENCV);
            net.setPreferableTarget(cv::dnn::DNN_TARGET_CPU);
        }
        return net;
    };
    cv::dnn::Net net = load(), grey = load();
    const bool hasGrey = foldFirstLayerToGrey(grey);
    {
        std::lock_guard<std::mutex> lock(m_inUse);
        m_net = std::move(net);
        m_greyNet = hasGrey ? std::move(grey) : cv::dnn::Net();
        m_inputSize = input;
    }

    const cv::Mat warmUp = cv::imread(StationPaths::warmUpImage().toStdString(), cv::IMREAD_COLOR);
    if (warmUp.empty())
        return false;
    cv::Mat drawn;
    std::vector<Detection> found;
    if (detectOne(warmUp, drawn, found) == 0)
        return false;
    if (!m_greyNet.empty()) {
        // The grey network on the same picture in grey: should this OpenCV not take the
        // folded layer, grey images go through the network as loaded, as before.
        cv::Mat grey;
        cv::cvtColor(warmUp, grey, cv::COLOR_BGR2GRAY);
        std::vector<Detection> greyFound;
        bool works = false;
        try {
            works = detectOne(grey, drawn, greyFound) > 0;
        } catch (const cv::Exception &) {
        }
        if (!works) {
            std::lock_guard<std::mutex> lock(m_inUse);
            m_greyNet = cv::dnn::Net();
            std::printf("Glue-dot detector: the network for grey images finds nothing on the warm-up picture; "
                        "grey images go through the colour network.\n");
            std::fflush(stdout);
        }
    }
    return true;
}

std::vector<cv::Mat> GlueDotDetector::forward(const cv::Mat &blob)
{
    cv::dnn::Net &net = blob.size[1] == 1 && !m_greyNet.empty() ? m_greyNet : m_net;
    net.setInput(blob, "", 1.0, cv::Scalar());
    if (outputLayerNames.empty()) {
        const std::vector<int> outLayers = net.getUnconnectedOutLayers();
        const std::vector<std::string> layerNames = net.getLayerNames();
        for (int n : outLayers)
            outputLayerNames.push_back(layerNames[n - 1]);
    }
    std::vector<cv::Mat> outs;
    net.forward(outs, outputLayerNames);
    return outs;
}

std::vector<cv::Mat> GlueDotDetector::networkInput(const std::vector<cv::Mat> &images) const
{
    const auto grey = [](const cv::Mat &m) { return m.channels() == 1; };
    const size_t greys = size_t(std::count_if(images.begin(), images.end(), grey));
    if (greys == 0 || (greys == images.size() && !m_greyNet.empty()))
        return images;
    // No grey network, or grey images beside colour ones in one blob: all in three channels.
    std::vector<cv::Mat> converted(images.size());
    for (size_t i = 0; i < images.size(); ++i)
        converted[i] = grey(images[i]) ? drawable(images[i]) : images[i];
    return converted;
}

cv::Mat GlueDotDetector::drawable(const cv::Mat &image)
{
    cv::Mat copy;
    if (image.channels() == 1)
        cv::cvtColor(image, copy, cv::COLOR_GRAY2BGR);
    else
        copy = image.clone();
    return copy;
}

int GlueDotDetector::detectOne(const cv::Mat &image, cv::Mat &drawn, std::vector<Detection> &detections)
{
    cv::Mat frame = drawable(image);
    std::vector<cv::Mat> outs;
    {
        std::lock_guard<std::mutex> lock(m_inUse);
        makeBlob(networkInput({image}), m_inputSize, m_blob);
        outs = forward(m_blob);
    }
    drawAll(GlueDotDecoding::decode(outs, frame.size()), frame, detections);
    drawn = eightBit(frame);
    return int(detections.size());
}

void GlueDotDetector::detectBatch(const std::vector<cv::Mat> &images, std::vector<cv::Mat> &drawn,
                                  std::vector<std::vector<Detection>> &results)
{
    std::unique_lock<std::mutex> lock(m_inUse);
    batchLocked(images, drawn, results);
}

bool GlueDotDetector::detectBatchIfIdle(const std::vector<cv::Mat> &images, std::vector<cv::Mat> &drawn,
                                        std::vector<std::vector<Detection>> &results)
{
    std::unique_lock<std::mutex> lock(m_inUse, std::try_to_lock);
    if (!lock.owns_lock())
        return false;
    batchLocked(images, drawn, results);
    return true;
}

void GlueDotDetector::batchLocked(const std::vector<cv::Mat> &images, std::vector<cv::Mat> &drawn,
                                  std::vector<std::vector<Detection>> &results)
{
    const int n = int(images.size());
    std::vector<std::vector<ScoredDetection>> decoded(n);
    if (chooseBackend()) {
        // A GPU wants the whole batch in one pass.
        makeBlob(networkInput(images), m_inputSize, m_blob);
        const std::vector<cv::Mat> batch = forward(m_blob);
        for (int b = 0; b < n; ++b)
            decoded[b] = GlueDotDecoding::decode(GlueDotDecoding::imageOutputs(batch, b), images[b].size());
    } else {
        // On the CPU one image at a time, as detectOne: OpenCV's convolutions take no gain
        // from a batch, a batch's layers outgrow the caches, and each image's dots come out
        // the same to the bit. Each is decoded before the next forward reuses the outputs.
        for (int b = 0; b < n; ++b) {
            makeBlob(networkInput({images[b]}), m_inputSize, m_blob);
            decoded[b] = GlueDotDecoding::decode(forward(m_blob), images[b].size());
        }
    }
    // Each image's copy and drawing is its own, so the images share the cores.
    std::vector<cv::Mat> frames(n);
    std::vector<std::vector<Detection>> found(n);
    std::vector<std::exception_ptr> failures(n);
    cv::parallel_for_(cv::Range(0, n), [&](const cv::Range &range) {
        for (int b = range.start; b < range.end; ++b) {
            try {
                frames[b] = drawable(images[b]);
                drawAll(decoded[b], frames[b], found[b]);
            } catch (...) {
                failures[b] = std::current_exception(); // raised on the caller's thread below
            }
        }
    });
    for (const std::exception_ptr &failure : failures)
        if (failure)
            std::rethrow_exception(failure);
    for (int b = 0; b < n; ++b) {
        results.push_back(std::move(found[b]));
        drawn.push_back(eightBit(std::move(frames[b])));
    }
}

void GlueDotDetector::drawDetection(int classId, float confidence, int left, int top, int right, int bottom,
                                    cv::Mat &image)
{
    const cv::Scalar colour = classId == 1 ? cv::Scalar(255, 0, 0) : cv::Scalar(0, 255, 0);
    cv::rectangle(image, cv::Point(left, top), cv::Point(right, bottom), colour, 4, cv::LINE_8);
    std::string label = cv::format("%.2f%%", confidence * 100);
    if (classNames.empty()) {
        std::printf("classes is empty...\n");
        std::fflush(stdout);
    } else {
        if (!(classId < int(classNames.size())))
            cv::error(cv::Error::StsAssert, "classId < (int)classes.size()", "drawPred", __FILE__, __LINE__);
        label = classNames[classId] + ": " + label;
    }
    int baseLine = 0;
    const cv::Size labelSize = cv::getTextSize(label, cv::FONT_HERSHEY_SIMPLEX, 1.0, 1, &baseLine);
    const int labelTop = std::max(top, labelSize.height);
    cv::putText(image, label, cv::Point(left, labelTop - 5), cv::FONT_HERSHEY_SIMPLEX, 0.8, colour, 1, cv::LINE_8);
}

void batchWarmUp(const std::vector<int> &positions)
{
    // A detector found busy is inspecting a real product: it is warm, and the warm-up must
    // not keep the products behind that one waiting.
    bool busy[4] = {};
    for (int pass = 0; pass < 10; ++pass) {
        for (int position : positions) {
            if (position < 0 || position > 3 || busy[position])
                continue;
            // Grey, as the line's cameras give them, and colour in turn: each has a
            // network of its own.
            const std::vector<cv::Mat> black(3, cv::Mat::zeros(544, 728, pass % 2 ? CV_8UC3 : CV_8UC1));
            std::vector<cv::Mat> drawn;
            std::vector<std::vector<Detection>> results;
            busy[position] = !g_detector[position].detectBatchIfIdle(black, drawn, results);
        }
    }
}
