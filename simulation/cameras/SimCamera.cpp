#include "SimCamera.h"

#include <opencv2/imgproc.hpp>

#include <chrono>
#include <cstdlib>

namespace {
constexpr size_t kFrameBufferSlots = 64; // frames a camera holds before it drops the oldest
}

SimCamera::Roles SimCamera::rolesOf(Vendor vendor)
{
    switch (vendor) {
    case Vendor::Hik: return {"Line2", "Line0", "Line1"};
    case Vendor::Basler: return {"Line3", "Line1", "Line4"};
    case Vendor::Balluff: return {"Line4", "Line5", "Line0"};
    case Vendor::None: break;
    }
    return {};
}

std::string SimCamera::lineName(Vendor vendor, const std::string &selectorValue)
{
    if (vendor == Vendor::Balluff)
        return selectorValue;
    char *end = nullptr;
    const long v = std::strtol(selectorValue.c_str(), &end, 10);
    if (selectorValue.empty() || *end != '\0')
        return selectorValue;
    // Basler's line selector numbers its lines from 9 (Line1) in our model.
    const long line = vendor == Vendor::Basler ? v - 8 : v;
    return "Line" + std::to_string(line);
}

SimCamera::SimCamera(Config config)
    : m_config(std::move(config))
    , m_openFailures(m_config.profile.openFailures)
{
    m_callbackThread = std::thread(&SimCamera::callbackLoop, this);
}

SimCamera::~SimCamera()
{
    stopGrabbing();
    {
        std::lock_guard<std::mutex> lock(m_taskMutex);
        m_stopping = true;
    }
    m_taskReady.notify_all();
    m_callbackThread.join();
}

bool SimCamera::open()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_plugged || m_open || m_openFailures != 0) {
        if (!m_open && m_openFailures > 0)
            --m_openFailures;
        m_lifecycle.push_back("open failed");
        return false;
    }
    m_open = true;
    m_lifecycle.push_back("open");
    return true;
}

void SimCamera::setOpenFailures(int count)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_openFailures = count;
}

void SimCamera::close()
{
    stopGrabbing();
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_open)
        return;
    m_open = false;
    m_lifecycle.push_back("close");
}

bool SimCamera::isOpen() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_open;
}

std::string SimCamera::selectorOf(const std::string &name)
{
    static const std::map<std::string, std::string> selectors = {
        {"LineMode", "LineSelector"},
        {"LineSource", "LineSelector"},
        {"LineDebouncerTime", "LineSelector"},
        {"BslInputFilterTime", "LineSelector"},
        {"StrobeEnable", "LineSelector"},
        {"StrobeLineDuration", "LineSelector"},
        {"mvLineDebounceTimeRisingEdge", "LineSelector"},
        {"TriggerMode", "TriggerSelector"},
        {"TriggerSource", "TriggerSelector"},
        {"TriggerActivation", "TriggerSelector"},
        {"EventNotification", "EventSelector"},
        {"UserOutputValue", "UserOutputSelector"},
        {"TimerTriggerSource", "TimerSelector"},
        {"TimerDuration", "TimerSelector"},
        {"TimerTriggerActivation", "TimerSelector"},
    };
    const auto it = selectors.find(name);
    return it == selectors.end() ? std::string() : it->second;
}

std::string SimCamera::keyFor(const std::string &name) const
{
    const std::string selector = selectorOf(name);
    if (selector.empty())
        return name;
    const auto it = m_features.find(selector);
    return name + "@" + (it == m_features.end() ? std::string() : it->second);
}

bool SimCamera::acceptsLocked(const std::string &name, const std::string &value) const
{
    if (!m_open || !m_plugged)
        return false;
    if (m_config.profile.refusedFeatures.count(name))
        return false;
    if (name == "LineSelector"
        && m_config.profile.missingLines.count(lineName(m_config.vendor, value)))
        return false;
    return true;
}

bool SimCamera::writeFeature(const std::string &name, const std::string &value)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const bool accepted = acceptsLocked(name, value);
    m_writes.push_back({name, value, accepted});
    if (accepted)
        m_features[keyFor(name)] = value;
    return accepted;
}

bool SimCamera::wouldAccept(const std::string &name, const std::string &value) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return acceptsLocked(name, value);
}

std::string SimCamera::feature(const std::string &name) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_features.find(keyFor(name));
    return it == m_features.end() ? std::string() : it->second;
}

std::string SimCamera::featureAt(const std::string &name, const std::string &selectorValue) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const std::string key = selectorOf(name).empty() ? name : name + "@" + selectorValue;
    const auto it = m_features.find(key);
    return it == m_features.end() ? std::string() : it->second;
}

std::string SimCamera::lineWithSource(const std::string &sourceValue) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const std::string prefix = "LineSource@";
    for (const auto &f : m_features)
        if (f.first.compare(0, prefix.size(), prefix) == 0 && f.second == sourceValue)
            return lineName(m_config.vendor, f.first.substr(prefix.size()));
    return std::string();
}

bool SimCamera::triggeredMode() const
{
    switch (m_config.vendor) {
    case Vendor::Hik:
        return featureAt("TriggerMode", "") == "1" && featureAt("TriggerSource", "") == "2";
    case Vendor::Basler:
        return featureAt("TriggerMode", "11") == "1" && featureAt("TriggerSource", "11") == "19";
    case Vendor::Balluff:
        return featureAt("TriggerMode", "") == "On" && featureAt("TriggerSource", "") == "Line4";
    case Vendor::None: break;
    }
    return false;
}

bool SimCamera::freeRunMode() const
{
    if (feature("AcquisitionFrameRateEnable") != "true")
        return false;
    switch (m_config.vendor) {
    case Vendor::Hik: return featureAt("TriggerMode", "") == "0";
    case Vendor::Basler: return featureAt("TriggerMode", "11") == "0";
    case Vendor::Balluff: return featureAt("TriggerMode", "") == "Off";
    case Vendor::None: break;
    }
    return false;
}

double SimCamera::frameRate() const
{
    const std::string rate = feature("AcquisitionFrameRate");
    const double fps = rate.empty() ? 10.0 : std::atof(rate.c_str());
    return fps > 0.1 ? fps : 0.1;
}

void SimCamera::windowEdge(bool rising)
{
    const std::string line = rolesOf(m_config.vendor).window;
    // The level changes when the camera handles the edge, so a listener reading the line
    // in its callback sees the level of the edge it was called for.
    post([this, line, rising] {
        if (!rising && m_grabbing && framesBuffered() > 0)
            ++m_edgesWithUngrabbedFrames;
        EdgeListener listener;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_lineLevels[line] = rising;
            listener = m_edgeListener;
        }
        if (listener && m_plugged)
            listener(line, rising);
    });
}

bool SimCamera::lineLevel(const std::string &line) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_lineLevels.find(line);
    return it != m_lineLevels.end() && it->second;
}

bool SimCamera::triggerPulse(const cv::Mat &frame)
{
    if (!m_plugged || !m_grabbing || !triggeredMode())
        return false;
    deliverFrame(toCameraFormat(frame));
    return true;
}

void SimCamera::setFreeRunProvider(FrameProvider provider)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_freeRunProvider = std::move(provider);
}

cv::Mat SimCamera::toCameraFormat(const cv::Mat &frame) const
{
    cv::Mat out;
    if (frame.empty()) {
        out = cv::Mat(m_config.height, m_config.width, CV_8UC1, cv::Scalar(128));
    } else {
        out = frame;
    }
    switch (m_config.format) {
    case PixelFormat::Mono8:
        if (out.channels() == 3)
            cv::cvtColor(out, out, cv::COLOR_BGR2GRAY);
        break;
    case PixelFormat::Bgr8:
        if (out.channels() == 1)
            cv::cvtColor(out, out, cv::COLOR_GRAY2BGR);
        break;
    case PixelFormat::Rgb8:
        cv::cvtColor(out, out, out.channels() == 1 ? cv::COLOR_GRAY2RGB : cv::COLOR_BGR2RGB);
        break;
    }
    if (out.cols != m_config.width || out.rows != m_config.height)
        cv::resize(out, out, cv::Size(m_config.width, m_config.height));
    return out.data == frame.data ? out.clone() : out;
}

void SimCamera::deliverFrame(const cv::Mat &frame)
{
    {
        std::lock_guard<std::mutex> lock(m_frameMutex);
        if (m_frames.size() >= kFrameBufferSlots)
            m_frames.pop_front();
        m_frames.push_back({frame, Clock::now()});
    }
    ++m_framesDelivered;
    m_frameReady.notify_one();
}

void SimCamera::startGrabbing()
{
    {
        std::lock_guard<std::mutex> lock(m_frameMutex);
        m_frames.clear();
    }
    if (m_grabbing.exchange(true))
        return;
    {
        std::lock_guard<std::mutex> lock(m_freeRunMutex);
        m_freeRunStop = false;
    }
    m_freeRunThread = std::thread(&SimCamera::freeRunLoop, this);
}

void SimCamera::stopGrabbing()
{
    if (!m_grabbing.exchange(false))
        return;
    {
        std::lock_guard<std::mutex> lock(m_freeRunMutex);
        m_freeRunStop = true;
    }
    m_freeRunWake.notify_all();
    if (m_freeRunThread.joinable())
        m_freeRunThread.join();
    m_frameReady.notify_all();
}

bool SimCamera::waitFrame(cv::Mat &out, int timeoutMs)
{
    std::unique_lock<std::mutex> lock(m_frameMutex);
    m_frameReady.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                          [this] { return !m_frames.empty() || !m_plugged; });
    if (m_frames.empty() || !m_plugged)
        return false;
    out = m_frames.front().frame;
    const Clock::time_point delivered = m_frames.front().delivered;
    m_frames.pop_front();
    lock.unlock();
    m_grabWait.add(std::chrono::duration<double, std::milli>(Clock::now() - delivered).count());
    return true;
}

void SimCamera::freeRunLoop()
{
    for (;;) {
        const auto period = std::chrono::microseconds(static_cast<long>(1e6 / frameRate()));
        {
            std::unique_lock<std::mutex> lock(m_freeRunMutex);
            if (m_freeRunWake.wait_for(lock, period, [this] { return m_freeRunStop; }))
                return;
        }
        if (!m_plugged || !freeRunMode())
            continue;
        FrameProvider provider;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            provider = m_freeRunProvider;
        }
        deliverFrame(toCameraFormat(provider ? provider() : cv::Mat()));
    }
}

void SimCamera::pulseOutput(const std::string &line)
{
    PulseListener listener;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pulses.push_back(line);
        listener = m_pulseListener;
    }
    if (listener)
        listener(line);
}

void SimCamera::post(std::function<void()> task)
{
    {
        std::lock_guard<std::mutex> lock(m_taskMutex);
        m_tasks.push_back({std::move(task), Clock::now()});
    }
    m_taskReady.notify_one();
}

bool SimCamera::waitIdle(int timeoutMs)
{
    std::unique_lock<std::mutex> lock(m_taskMutex);
    return m_taskDone.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                               [this] { return m_tasks.empty() && !m_busy; });
}

void SimCamera::callbackLoop()
{
    std::unique_lock<std::mutex> lock(m_taskMutex);
    for (;;) {
        m_taskReady.wait(lock, [this] { return m_stopping || !m_tasks.empty(); });
        if (m_stopping)
            break;
        Task task = std::move(m_tasks.front());
        m_tasks.pop_front();
        m_busy = true;
        lock.unlock();
        m_eventWait.add(std::chrono::duration<double, std::milli>(Clock::now() - task.posted).count());
        task.run();
        m_eventHandled.add(std::chrono::duration<double, std::milli>(Clock::now() - task.posted).count());
        lock.lock();
        m_busy = false;
        m_taskDone.notify_all();
    }
    m_tasks.clear();
    m_taskDone.notify_all();
}

void SimCamera::setEdgeListener(EdgeListener listener)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_edgeListener = std::move(listener);
}

void SimCamera::setPulseListener(PulseListener listener)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pulseListener = std::move(listener);
}

void SimCamera::setUnplugListener(UnplugListener listener)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_unplugListener = std::move(listener);
}

void SimCamera::unplug()
{
    m_plugged = false;
    m_frameReady.notify_all();
    post([this] {
        UnplugListener listener;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            listener = m_unplugListener;
        }
        if (listener)
            listener();
    });
}

void SimCamera::plugIn()
{
    if (m_plugged)
        return;
    stopGrabbing(); // the restarted camera does not grab until it is told to
    std::lock_guard<std::mutex> lock(m_mutex);
    m_open = false;
    m_features.clear();
    m_lifecycle.push_back("plugged in");
    m_plugged = true;
}

int SimCamera::framesBuffered() const
{
    std::lock_guard<std::mutex> lock(m_frameMutex);
    return static_cast<int>(m_frames.size());
}

void SimCamera::clearTimings()
{
    m_grabWait.clear();
    m_eventWait.clear();
    m_eventHandled.clear();
    m_edgesWithUngrabbedFrames = 0;
}

std::vector<SimCamera::FeatureWrite> SimCamera::featureWrites() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_writes;
}

std::vector<std::string> SimCamera::featureWriteTexts() const
{
    std::vector<std::string> texts;
    for (const FeatureWrite &w : featureWrites())
        texts.push_back(w.text());
    return texts;
}

std::vector<std::string> SimCamera::pulses() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_pulses;
}

std::vector<std::string> SimCamera::lifecycle() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lifecycle;
}

void SimCamera::clearRecords()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_writes.clear();
    m_pulses.clear();
    m_lifecycle.clear();
}
