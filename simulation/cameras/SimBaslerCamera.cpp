#include "SimBaslerCamera.h"

#include "SimCamera.h"
#include "SimFeatureValue.h"

#include <algorithm>

SimBaslerCamera::SimBaslerCamera(SimCamera *camera)
    : m_camera(camera)
{
    m_camera->setEdgeListener(
        [this](const std::string &line, bool rising) { onEdge(line, rising); });
}

SimBaslerCamera::~SimBaslerCamera()
{
    m_camera->setEdgeListener(nullptr);
    m_camera->waitIdle(2000); // an edge handler may still be running
}

void SimBaslerCamera::requirePlugged() const
{
    if (!m_camera->isPlugged())
        throw BaslerError("The device has been removed from the PC.");
}

void SimBaslerCamera::open()
{
    requirePlugged();
    if (!m_camera->open())
        throw BaslerError("Failed to open device: the device is controlled by another "
                          "application or cannot be reached.");
}

void SimBaslerCamera::close()
{
    m_camera->close();
}

bool SimBaslerCamera::isOpen() const
{
    return m_camera->isOpen();
}

std::string SimBaslerCamera::deviceUserId()
{
    requirePlugged();
    if (!m_camera->isOpen())
        throw BaslerError("Node 'DeviceUserID' is not readable: camera not open.");
    return m_camera->config().userId;
}

bool SimBaslerCamera::write(const std::string &name, const std::string &value)
{
    requirePlugged();
    const bool accepted = m_camera->writeFeature(name, value);
    if (accepted && name == "UserOutputValue") {
        // UserOutputN drives the line whose source it is (35 + 2·(N-1) in our model: 35
        // for UserOutput1, 37 for UserOutput3); a false-to-true change is one pulse.
        const bool high = value == "true";
        if (high && !m_lastUserOutputValue) {
            const long selected = std::atol(m_camera->feature("UserOutputSelector").c_str());
            const std::string line = m_camera->lineWithSource(std::to_string(34 + selected));
            if (!line.empty())
                m_camera->pulseOutput(line);
        }
        m_lastUserOutputValue = high;
    }
    return accepted;
}

void SimBaslerCamera::writeOrRaise(const std::string &name, const std::string &value)
{
    if (!write(name, value))
        throw BaslerError("Node '" + name + "' is not writable or does not accept " + value
                          + ".");
}

void SimBaslerCamera::setEnum(const std::string &name, int64_t value)
{
    writeOrRaise(name, std::to_string(value));
}

void SimBaslerCamera::setEnumString(const std::string &name, const std::string &entry)
{
    writeOrRaise(name, entry);
}

void SimBaslerCamera::setInt(const std::string &name, int64_t value)
{
    writeOrRaise(name, std::to_string(value));
}

void SimBaslerCamera::setFloat(const std::string &name, double value)
{
    writeOrRaise(name, SimFeatureValue::fromDouble(value));
}

void SimBaslerCamera::setBool(const std::string &name, bool value)
{
    writeOrRaise(name, SimFeatureValue::fromBool(value));
}

void SimBaslerCamera::setFloatNode(const std::string &name, double value)
{
    writeOrRaise(name, SimFeatureValue::fromDouble(value));
}

bool SimBaslerCamera::trySetEnum(const std::string &name, int64_t value)
{
    return write(name, std::to_string(value));
}

bool SimBaslerCamera::trySetFloat(const std::string &name, double value)
{
    return write(name, SimFeatureValue::fromDouble(value));
}

bool SimBaslerCamera::trySetBool(const std::string &name, bool value)
{
    return write(name, SimFeatureValue::fromBool(value));
}

bool SimBaslerCamera::canSetEnum(const std::string &name, int64_t value)
{
    requirePlugged();
    return m_camera->wouldAccept(name, std::to_string(value));
}

void SimBaslerCamera::setGrabCameraEvents(bool enabled)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_grabCameraEvents = enabled;
}

void SimBaslerCamera::registerImageEventHandler(BaslerImageEventHandler *handler)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_imageHandlers.push_back(handler);
}

void SimBaslerCamera::deregisterImageEventHandler(BaslerImageEventHandler *handler)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_imageHandlers.erase(std::remove(m_imageHandlers.begin(), m_imageHandlers.end(), handler),
                          m_imageHandlers.end());
}

void SimBaslerCamera::registerCameraEventHandler(BaslerCameraEventHandler *handler,
                                                 const std::string &eventDataNode,
                                                 intptr_t userProvidedId)
{
    requirePlugged();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_cameraHandlers.push_back({handler, eventDataNode, userProvidedId});
}

void SimBaslerCamera::deregisterCameraEventHandler(BaslerCameraEventHandler *handler)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_cameraHandlers.erase(std::remove_if(m_cameraHandlers.begin(), m_cameraHandlers.end(),
                                              [handler](const CameraEventRegistration &r) {
                                                  return r.handler == handler;
                                              }),
                               m_cameraHandlers.end());
    }
    m_camera->waitIdle(2000);
}

void SimBaslerCamera::onEdge(const std::string &line, bool rising)
{
    const std::string event = line + (rising ? "RisingEdge" : "FallingEdge");
    // Delivered only when the event is switched on in the camera ("EventNotification" On)
    // and the instant camera grabs camera events.
    if (m_camera->featureAt("EventNotification", event) != "2")
        return;
    const std::string node = "Event" + event + "Data";
    std::vector<CameraEventRegistration> targets;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_grabCameraEvents)
            return;
        for (const auto &r : m_cameraHandlers)
            if (r.node == node)
                targets.push_back(r);
    }
    for (const auto &r : targets)
        r.handler->onCameraEvent(*this, r.id, r.node);
}

void SimBaslerCamera::startGrabbing()
{
    requirePlugged();
    if (!m_camera->isOpen())
        throw BaslerError("Cannot start grabbing: camera not open.");
    m_camera->startGrabbing();
}

void SimBaslerCamera::stopGrabbing()
{
    m_camera->stopGrabbing();
}

bool SimBaslerCamera::isGrabbing() const
{
    return m_camera->isGrabbing();
}

bool SimBaslerCamera::retrieveResult(int timeoutMs)
{
    requirePlugged();
    if (!m_camera->isGrabbing())
        throw BaslerError("Cannot retrieve a result: the camera is not grabbing.");
    cv::Mat frame;
    if (!m_camera->waitFrame(frame, timeoutMs)) {
        requirePlugged();
        return false;
    }
    BaslerGrabResult result;
    result.succeeded = true;
    result.width = frame.cols;
    result.height = frame.rows;
    switch (m_camera->config().format) {
    case SimCamera::PixelFormat::Mono8: result.pixelFormat = BaslerGrabResult::kMono8; break;
    case SimCamera::PixelFormat::Bgr8: result.pixelFormat = BaslerGrabResult::kBgr8; break;
    case SimCamera::PixelFormat::Rgb8: result.pixelFormat = BaslerGrabResult::kRgb8; break;
    }
    result.buffer = frame.data;
    result.strideBytes = static_cast<int>(frame.step[0]);
    std::vector<BaslerImageEventHandler *> handlers;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        handlers = m_imageHandlers;
    }
    for (BaslerImageEventHandler *h : handlers)
        h->onImageGrabbed(*this, result);
    return true;
}
