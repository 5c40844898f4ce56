#include "PlainSfncWay.h"

#include "AravisCamera.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>

namespace {
std::string upper(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::toupper(c)); });
    return s;
}
// HIK's numbers in the station's set-up: Line1 is the reject output, Line0 and Line2 the
// inputs, LineSource 5 the strobe, TriggerSource 2 the frame-trigger line.
constexpr unsigned kHikRejectLine = 1;
constexpr unsigned kHikStrobeSource = 5;
} // namespace

PlainSfncWay::Lines PlainSfncWay::linesFor(const std::string &maker)
{
    const std::string m = upper(maker);
    if (m.rfind("BASLER", 0) == 0)
        return {"Line3", "Line4", "UserOutput3", false};
    if (m.rfind("BALLUFF", 0) == 0 || m.rfind("MATRIX VISION", 0) == 0)
        return {"Line4", "Line0", "UserOutput0", true};
    return {"Line0", "Line1", "UserOutput1", false};
}

PlainSfncWay::PlainSfncWay(AravisCamera &camera, const std::string &maker)
    : m_camera(camera)
    , m_lines(linesFor(maker))
{
    m_clearer = std::thread(&PlainSfncWay::clearLoop, this);
}

PlainSfncWay::~PlainSfncWay()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    m_clearer.join();
}

bool PlainSfncWay::configureReject()
{
    bool ok = m_camera.setString("LineSelector", m_lines.reject.c_str())
              && m_camera.setString("LineMode", "Output");
    if (m_lines.timer) {
        ok = ok && m_camera.setString("LineSource", "Timer1Active") && m_camera.setString("TimerSelector", "Timer1")
             && m_camera.setString("TimerTriggerSource", m_lines.userOutput.c_str())
             && m_camera.setString("TimerTriggerActivation", "RisingEdge")
             && m_camera.setFloat("TimerDuration", double(m_pulseUs));
    } else {
        ok = ok && m_camera.setString("LineSource", m_lines.userOutput.c_str());
    }
    return ok && m_camera.setString("UserOutputSelector", m_lines.userOutput.c_str())
           && m_camera.setBoolean("UserOutputValue", false);
}

bool PlainSfncWay::debounceTrigger(int64_t time)
{
    if (!m_camera.setString("LineSelector", m_lines.trigger.c_str()))
        return false;
    // Float in the standard, integer on some cameras, another name on Basler's.
    return m_camera.setFloat("LineDebouncerTime", double(time)) || m_camera.setInteger("LineDebouncerTime", time)
           || m_camera.setFloat("BslInputFilterTime", double(time));
}

bool PlainSfncWay::setEnum(const char *key, unsigned value)
{
    if (std::strcmp(key, "LineSelector") == 0) {
        m_selectedLine = value;
        return true; // written with what the next write means
    }
    if (std::strcmp(key, "LineSource") == 0)
        return m_selectedLine == kHikRejectLine && value == kHikStrobeSource && configureReject();
    if (std::strcmp(key, "TriggerMode") == 0)
        return m_camera.setString("TriggerSelector", "FrameStart") && m_camera.setString("TriggerMode", value ? "On" : "Off");
    if (std::strcmp(key, "TriggerSource") == 0)
        return m_camera.setString("TriggerSource", m_lines.trigger.c_str());
    if (std::strcmp(key, "TriggerActivation") == 0)
        return m_camera.setString("TriggerActivation", "RisingEdge");
    if (std::strcmp(key, "ExposureAuto") == 0 || std::strcmp(key, "GainAuto") == 0)
        return m_camera.setString(key, "Off");
    if (std::strcmp(key, "ExposureMode") == 0)
        return m_camera.setString(key, "Timed");
    return m_camera.setInteger(key, value); // binning and the like: numbers in any maker's description
}

bool PlainSfncWay::setInt(const char *key, int64_t value)
{
    if (std::strcmp(key, "StrobeLineDuration") == 0) {
        m_pulseUs = std::max<int64_t>(1000, value);
        return !m_lines.timer || m_camera.setFloat("TimerDuration", double(m_pulseUs));
    }
    if (std::strcmp(key, "LineDebouncerTime") == 0)
        return debounceTrigger(value);
    return m_camera.setInteger(key, value);
}

bool PlainSfncWay::setBool(const char *key, bool value)
{
    if (std::strcmp(key, "StrobeEnable") == 0)
        return true; // the user output is the strobe
    return m_camera.setBoolean(key, value);
}

bool PlainSfncWay::execute(const char *command)
{
    if (std::strcmp(command, "LineTriggerSoftware") != 0)
        return m_camera.execute(command);
    // A timer's output starts on the user output's rising edge and ends by itself;
    // a plain user output is cleared by this object's thread after the pulse's length.
    {
        auto features = m_camera.lockFeatures();
        if (!m_camera.setString("UserOutputSelector", m_lines.userOutput.c_str())
            || !m_camera.setBoolean("UserOutputValue", true))
            return false;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pending = true;
        m_clearAt = std::chrono::steady_clock::now()
                    + std::chrono::microseconds(m_lines.timer ? 1000 : m_pulseUs);
    }
    m_wake.notify_all();
    return true;
}

void PlainSfncWay::clearLoop()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_stop) {
        if (!m_pending) {
            m_wake.wait(lock, [this] { return m_stop || m_pending; });
            continue;
        }
        if (m_wake.wait_until(lock, m_clearAt, [this] { return m_stop; }))
            break;
        if (std::chrono::steady_clock::now() < m_clearAt)
            continue; // a later pulse moved the time on
        m_pending = false;
        lock.unlock();
        {
            auto features = m_camera.lockFeatures();
            m_camera.setString("UserOutputSelector", m_lines.userOutput.c_str());
            m_camera.setBoolean("UserOutputValue", false);
        }
        lock.lock();
    }
}
