#pragma once

#include "Detection.h"

#include <opencv2/dnn.hpp>

#include <mutex>
#include <string>
#include <vector>

// The glue-dot network of one camera position (module alg_jd). Each position has its own
// network so that the work threads can infer at the same time. Its work thread and the GUI
// thread's warm-up both use it, and a real camera's frames may come during a warm-up: a
// forward holds the detector (OpenCV's network is not for two threads at once).
class GlueDotDetector
{
public:
    // Loads "../model/jd.names", "../model/jd.cfg" and "../model/jd.weights", picks CUDA or
    // the CPU, and checks the model on "alg_jd.jpg". False if the names file cannot be
    // opened, the warm-up image cannot be read, or nothing is found on it. A missing cfg, or
    // one without a usable input size, raises std::runtime_error saying why; a broken cfg or
    // weights file raises OpenCV's exception.
    bool initDetector();

    // The network's input, from the [net] section of the cfg at `cfgPath`: width and height,
    // each a positive multiple of 32, as Darknet networks require. Raises
    // std::runtime_error naming the file and what is wrong.
    static cv::Size readInputSize(const std::string &cfgPath);
    cv::Size inputSize() const { return m_inputSize; }

    // Whether inference runs on CUDA, said once on standard output; on the CPU, OpenCV's
    // pool is set to one thread. The first call decides, for the whole process: OpenCV's
    // thread count must not change while another thread is in one of its parallel loops,
    // so a program calls this before it starts threads that use OpenCV (initDetector
    // calls it too).
    static bool chooseBackend();

    // Appends the dots found in `image` (8-bit BGR or grey, unchanged) to `detections`;
    // `drawn` becomes a BGR copy of it with boxes and labels. Returns the length of
    // `detections`. Grey images go through a network whose first layer takes one channel
    // (the same function, a little cheaper), not three copies of the grey.
    int detectOne(const cv::Mat &image, cv::Mat &drawn, std::vector<Detection> &detections);

    // One forward pass over all `images` (sizes may differ). Appends, in input order, one
    // drawn copy and one list of detections per image, each scaled to that image's size.
    void detectBatch(const std::vector<cv::Mat> &images, std::vector<cv::Mat> &drawn,
                     std::vector<std::vector<Detection>> &results);
    // The same, unless another thread is using the detector: then false at once.
    bool detectBatchIfIdle(const std::vector<cv::Mat> &images, std::vector<cv::Mat> &drawn,
                           std::vector<std::vector<Detection>> &results);

    // Draws one detection: box, and "name: 87.34%" above it, never above the image's top.
    // A class id outside classNames raises cv::Exception.
    static void drawDetection(int classId, float confidence, int left, int top, int right, int bottom,
                              cv::Mat &image);

    // The network's input for `images`: exactly what blobFromImages makes with the
    // detector's settings (stretched to `input`, 1/255, R and B swapped, no crop), faster
    // for 8-bit images all of three channels or all grey (one plane each).
    static void makeBlob(const std::vector<cv::Mat> &images, cv::Size input, cv::Mat &blob);

    // Makes `net` the network for grey images: its first convolution's weights summed over
    // their three input channels, for a blob of one plane. False, `net` unchanged, when
    // the network does not begin with a convolution over three channels.
    static bool foldFirstLayerToGrey(cv::dnn::Net &net);

    // Shared by all detectors; written on the GUI thread during start-up, then only read.
    static std::vector<std::string> classNames;
    static std::vector<std::string> outputLayerNames;

private:
    // Through the grey network for a blob of one plane, else the network as loaded.
    std::vector<cv::Mat> forward(const cv::Mat &blob);
    // `images` as the networks take them: grey ones made three-channel when there is no
    // grey network or colour ones share the blob.
    std::vector<cv::Mat> networkInput(const std::vector<cv::Mat> &images) const;
    // A BGR copy to draw on.
    static cv::Mat drawable(const cv::Mat &image);
    void batchLocked(const std::vector<cv::Mat> &images, std::vector<cv::Mat> &drawn,
                     std::vector<std::vector<Detection>> &results);

    std::mutex m_inUse; // held for a blob and its forward
    cv::dnn::Net m_net;
    // The first layer's weights summed over its three input channels; empty when the
    // model does not allow it or it failed the self-check.
    cv::dnn::Net m_greyNet;
    cv::Mat m_blob; // the last input, its memory reused
    cv::Size m_inputSize{416, 416};
};

// One detector per camera position 0..3.
extern GlueDotDetector g_detector[4];

// Ten passes of three black 544 × 728 images through the detectors of `positions`, so that
// the first real product does not pay for the backend's lazy start. GUI thread. A detector
// found inspecting real frames is left alone from then on.
void batchWarmUp(const std::vector<int> &positions);
