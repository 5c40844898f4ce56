#pragma once

#include "DelayStats.h"

#include <opencv2/core/mat.hpp>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

// The core of a simulated industrial camera, shared by the three vendor faces: a feature
// store that records every write, input and output lines, a frame buffer fed by trigger
// pulses or a free-run clock, and a callback thread of its own on which every event
// (line edges, device failure) reaches the face's listeners in order.
class SimCamera
{
public:
    enum class Vendor { None = 0, Balluff = 1, Basler = 2, Hik = 3 };
    enum class Transport { GigE, Usb3 };
    enum class PixelFormat { Mono8, Bgr8, Rgb8 };

    // What a camera model refuses, so that the error paths can be exercised.
    struct Profile
    {
        std::set<std::string> refusedFeatures; // e.g. "LineDebouncerTime"
        std::set<std::string> missingLines;    // e.g. "Line4": its selector value is refused
        int openFailures = 0;                  // opens that fail first; -1: every open fails
    };

    struct Config
    {
        Vendor vendor = Vendor::Hik;
        std::string manufacturer = "Hikrobot";
        std::string userId = "255";
        Transport transport = Transport::GigE;
        int width = 728;
        int height = 544;
        PixelFormat format = PixelFormat::Mono8;
        std::string serial;
        Profile profile;
    };

    // The lines each vendor's camera uses in the station's wiring.
    struct Roles
    {
        std::string trigger;      // frame-trigger input
        std::string window;       // product-window input
        std::string rejectOutput; // pulsed for a bad product
    };
    static Roles rolesOf(Vendor vendor);
    // Line name for a value written to "LineSelector" on this vendor's camera.
    static std::string lineName(Vendor vendor, const std::string &selectorValue);

    struct FeatureWrite
    {
        std::string name;
        std::string value;
        bool accepted = false;
        std::string text() const { return name + "=" + value + (accepted ? "" : " (refused)"); }
    };

    using EdgeListener = std::function<void(const std::string &line, bool rising)>;
    using PulseListener = std::function<void(const std::string &line)>;
    using UnplugListener = std::function<void()>;
    using FrameProvider = std::function<cv::Mat()>;

    explicit SimCamera(Config config);
    ~SimCamera();
    SimCamera(const SimCamera &) = delete;
    SimCamera &operator=(const SimCamera &) = delete;

    const Config &config() const { return m_config; }
    Vendor vendor() const { return m_config.vendor; }

    // Exclusive open. False when already open, unplugged, or the profile says so.
    bool open();
    void close();
    bool isOpen() const;
    bool isPlugged() const { return m_plugged; }
    // How many of the next opens fail; -1: every one.
    void setOpenFailures(int count);

    // Writes a feature (under its selector, where it has one) and records the write.
    // False when the camera is closed or unplugged or refuses the feature or value.
    bool writeFeature(const std::string &name, const std::string &value);
    bool wouldAccept(const std::string &name, const std::string &value) const;
    // Current value under the current selector; empty when never written.
    std::string feature(const std::string &name) const;
    std::string featureAt(const std::string &name, const std::string &selectorValue) const;
    // The line whose "LineSource" currently reads value, or empty.
    std::string lineWithSource(const std::string &sourceValue) const;

    bool triggeredMode() const; // triggered on the trigger line
    bool freeRunMode() const;   // trigger off, frame rate enabled
    double frameRate() const;

    // Lines, driven by the line simulator.
    void windowEdge(bool rising);
    bool lineLevel(const std::string &line) const;
    // One pulse on the trigger line: exposes `frame` when grabbing in triggered mode.
    bool triggerPulse(const cv::Mat &frame);
    void setFreeRunProvider(FrameProvider provider);

    // Frames, read by the face.
    void startGrabbing();
    void stopGrabbing();
    bool isGrabbing() const { return m_grabbing; }
    bool waitFrame(cv::Mat &out, int timeoutMs);
    uint64_t framesDelivered() const { return m_framesDelivered; }

    // Outputs: a face calls this when its output fires.
    void pulseOutput(const std::string &line);

    // Runs task on the callback thread, after everything posted before it.
    void post(std::function<void()> task);
    // Waits until the callback thread has run everything posted so far.
    bool waitIdle(int timeoutMs);

    void setEdgeListener(EdgeListener listener);
    void setPulseListener(PulseListener listener);
    void setUnplugListener(UnplugListener listener);

    // Pulls the cable: the unplug listener runs on the callback thread, every later
    // operation fails.
    void unplug();
    // Puts the cable back. The camera restarted: a session opened before the unplug is
    // gone (it must be opened again) and the features are back at their power-on
    // defaults, so whoever opens it has to set it up anew.
    void plugIn();

    // Where the time goes, for benchmarks: how long a frame waited in the camera before
    // the station grabbed it, how long an event waited for the callback thread and until
    // its callback returned (a pulse given in it has gone out by then), and how many
    // falling edges found frames of their window still in the camera (ungrabbed).
    const DelayStats &grabWait() const { return m_grabWait; }
    const DelayStats &eventWait() const { return m_eventWait; }
    const DelayStats &eventHandled() const { return m_eventHandled; }
    uint64_t edgesWithUngrabbedFrames() const { return m_edgesWithUngrabbedFrames; }
    int framesBuffered() const;
    void clearTimings();

    // Records for tests.
    std::vector<FeatureWrite> featureWrites() const;
    std::vector<std::string> featureWriteTexts() const;
    std::vector<std::string> pulses() const;
    std::vector<std::string> lifecycle() const; // "open", "open failed", "close", "plugged in"
    void clearRecords();

private:
    static std::string selectorOf(const std::string &name);
    std::string keyFor(const std::string &name) const;
    bool acceptsLocked(const std::string &name, const std::string &value) const;
    cv::Mat toCameraFormat(const cv::Mat &frame) const;
    void deliverFrame(const cv::Mat &frame);
    void callbackLoop();
    void freeRunLoop();

    const Config m_config;
    std::atomic<bool> m_plugged{true};
    std::atomic<bool> m_grabbing{false};
    std::atomic<uint64_t> m_framesDelivered{0};

    mutable std::mutex m_mutex; // guards the state below up to m_records
    bool m_open = false;
    int m_openFailures = 0;
    std::map<std::string, std::string> m_features; // "name@selector" -> value
    std::map<std::string, bool> m_lineLevels;
    std::vector<FeatureWrite> m_writes;
    std::vector<std::string> m_pulses;
    std::vector<std::string> m_lifecycle;
    EdgeListener m_edgeListener;
    PulseListener m_pulseListener;
    UnplugListener m_unplugListener;
    FrameProvider m_freeRunProvider;

    using Clock = std::chrono::steady_clock;
    struct BufferedFrame
    {
        cv::Mat frame;
        Clock::time_point delivered;
    };
    struct Task
    {
        std::function<void()> run;
        Clock::time_point posted;
    };

    mutable std::mutex m_frameMutex; // guards m_frames
    std::condition_variable m_frameReady;
    std::deque<BufferedFrame> m_frames;

    std::mutex m_taskMutex; // guards m_tasks, m_busy, m_stopping
    std::condition_variable m_taskReady;
    std::condition_variable m_taskDone;
    std::deque<Task> m_tasks;
    bool m_busy = false;
    bool m_stopping = false;
    std::thread m_callbackThread;

    std::mutex m_freeRunMutex; // guards m_freeRunStop
    std::condition_variable m_freeRunWake;
    bool m_freeRunStop = false;
    std::thread m_freeRunThread;

    DelayStats m_grabWait;
    DelayStats m_eventWait;
    DelayStats m_eventHandled;
    std::atomic<uint64_t> m_edgesWithUngrabbedFrames{0};
};
