#include "SimBalluffDevice.h"

#include "SimBalluffFunctionInterface.h"
#include "SimCamera.h"
#include "SimFeatureValue.h"

namespace {
constexpr int kErrorAccessDenied = -2101;
constexpr int kErrorNotWritable = -2005;
constexpr int kErrorNotReadable = -2004;
} // namespace

SimBalluffDevice::SimBalluffDevice(SimCamera *camera)
    : m_camera(camera)
{
    m_camera->setEdgeListener([this](const std::string &line, bool) {
        if (m_camera->featureAt("EventNotification", line + "AnyEdge") != "On")
            return;
        std::function<void()> callback;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            callback = m_lineCallback;
        }
        if (callback)
            callback();
    });
}

SimBalluffDevice::~SimBalluffDevice()
{
    m_camera->setEdgeListener(nullptr);
    m_camera->waitIdle(2000);
}

std::string SimBalluffDevice::manufacturer() const
{
    return m_camera->config().manufacturer;
}

void SimBalluffDevice::open()
{
    if (!m_camera->open())
        throw BalluffError("mvIMPACT::acquire::Device::open", kErrorAccessDenied,
                           "DEV_ACCESS_DENIED");
}

void SimBalluffDevice::close()
{
    m_camera->close();
}

bool SimBalluffDevice::isOpen() const
{
    return m_camera->isOpen();
}

void SimBalluffDevice::write(const char *operation, const std::string &name,
                             const std::string &value)
{
    if (!m_camera->writeFeature(name, value))
        throw BalluffError(operation, kErrorNotWritable, "PROPHANDLING_NOT_WRITABLE (" + name + ")");
    if (name != "UserOutputValue")
        return;
    // Every change of a user output is an edge; a timer triggered by that output on
    // any edge pulses the line it drives.
    const std::string output = m_camera->feature("UserOutputSelector");
    for (int timer = 1; timer <= 4; ++timer) {
        const std::string t = "Timer" + std::to_string(timer);
        if (m_camera->featureAt("TimerTriggerSource", t) == output
            && m_camera->featureAt("TimerTriggerActivation", t) == "AnyEdge") {
            const std::string line = m_camera->lineWithSource(t + "Active");
            if (!line.empty())
                m_camera->pulseOutput(line);
        }
    }
}

void SimBalluffDevice::writeS(const std::string &name, const std::string &value)
{
    write("mvIMPACT::acquire::Property::writeS", name, value);
}

void SimBalluffDevice::writeInt64(const std::string &name, int64_t value)
{
    write("mvIMPACT::acquire::EnumPropertyI64<__int64>::write", name, std::to_string(value));
}

void SimBalluffDevice::writeDouble(const std::string &name, double value)
{
    write("mvIMPACT::acquire::EnumPropertyF<double>::write", name,
          SimFeatureValue::fromDouble(value));
}

void SimBalluffDevice::writeBool(const std::string &name, bool value)
{
    write("mvIMPACT::acquire::EnumPropertyI<int>::write", name, SimFeatureValue::fromBool(value));
}

std::string SimBalluffDevice::readS(const std::string &name)
{
    if (!m_camera->isOpen() || !m_camera->isPlugged())
        throw BalluffError("mvIMPACT::acquire::Property::readS", kErrorNotReadable,
                           "PROPHANDLING_NOT_READABLE (" + name + ")");
    if (name == "LineStatus")
        return m_camera->lineLevel(m_camera->feature("LineSelector")) ? "1" : "0";
    if (name == "DeviceUserID")
        return m_camera->config().userId;
    return m_camera->feature(name);
}

bool SimBalluffDevice::readBool(const std::string &name)
{
    const std::string v = readS(name);
    return v == "1" || v == "true";
}

void SimBalluffDevice::registerLineEventCallback(std::function<void()> callback)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_lineCallback = std::move(callback);
}

void SimBalluffDevice::deregisterLineEventCallback()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_lineCallback = nullptr;
    }
    m_camera->waitIdle(2000);
}

std::unique_ptr<BalluffFunctionInterface> SimBalluffDevice::createFunctionInterface()
{
    return std::make_unique<SimBalluffFunctionInterface>(m_camera);
}

std::string SimBalluffDevice::framesPerSecond()
{
    if (!m_camera->isGrabbing())
        return "0";
    return SimFeatureValue::fromDouble(m_camera->freeRunMode() ? m_camera->frameRate() : 0.0);
}
