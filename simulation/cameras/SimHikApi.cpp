#include "SimHikApi.h"

#include "SimCamera.h"
#include "SimFeatureValue.h"

#include <cstring>

struct SimHikApi::Handle
{
    SimCamera *camera = nullptr;
    std::mutex mutex; // guards the callbacks
    std::map<std::string, std::pair<HikEventCallback, void *>> events;
    HikExceptionCallback exceptionCallback = nullptr;
    void *exceptionUser = nullptr;
};

SimHikApi::SimHikApi(std::vector<SimCamera *> cameras)
    : m_cameras(std::move(cameras))
{
}

SimHikApi::~SimHikApi()
{
    for (auto &h : m_handles) {
        h.second->camera->setEdgeListener(nullptr);
        h.second->camera->setUnplugListener(nullptr);
    }
}

SimHikApi::Handle *SimHikApi::find(HikHandle handle) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_handles.find(handle);
    return it == m_handles.end() ? nullptr : it->second.get();
}

int SimHikApi::enumDevices(unsigned layerMask, std::vector<HikDeviceInfo> &list)
{
    list.clear();
    for (SimCamera *camera : m_cameras) {
        const auto &c = camera->config();
        HikDeviceInfo info;
        info.layerType = c.transport == SimCamera::Transport::GigE ? HikDeviceInfo::kGigE
                                                                   : HikDeviceInfo::kUsb3;
        if (!(info.layerType & layerMask))
            continue;
        info.manufacturerName = c.manufacturer;
        info.modelName = "MV-CA013-SIM";
        info.serialNumber = c.serial;
        list.push_back(info);
    }
    return kOk;
}

int SimHikApi::createHandle(HikHandle *handle, const HikDeviceInfo &info)
{
    if (!handle)
        return kErrorParameter;
    for (SimCamera *camera : m_cameras) {
        if (camera->config().serial != info.serialNumber)
            continue;
        auto state = std::make_unique<Handle>();
        state->camera = camera;
        Handle *raw = state.get();
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_handles[raw] = std::move(state);
        }
        // Line edges and failures reach the registered callbacks on the camera's thread.
        camera->setEdgeListener([raw](const std::string &line, bool rising) {
            const std::string event = line + (rising ? "RisingEdge" : "FallingEdge");
            if (raw->camera->featureAt("EventNotification", event) != "On")
                return;
            std::pair<HikEventCallback, void *> cb{nullptr, nullptr};
            {
                std::lock_guard<std::mutex> lock(raw->mutex);
                const auto it = raw->events.find(event);
                if (it != raw->events.end())
                    cb = it->second;
            }
            if (cb.first) {
                HikEventInfo ev;
                ev.eventName = event;
                cb.first(ev, cb.second);
            }
        });
        camera->setUnplugListener([raw] {
            HikExceptionCallback cb;
            void *user;
            {
                std::lock_guard<std::mutex> lock(raw->mutex);
                cb = raw->exceptionCallback;
                user = raw->exceptionUser;
            }
            if (cb)
                cb(0x00008001 /* device disconnected */, user);
        });
        *handle = raw;
        return kOk;
    }
    return kErrorParameter;
}

int SimHikApi::destroyHandle(HikHandle handle)
{
    std::unique_ptr<Handle> state;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto it = m_handles.find(handle);
        if (it == m_handles.end())
            return kErrorHandle;
        state = std::move(it->second);
        m_handles.erase(it);
    }
    state->camera->setEdgeListener(nullptr);
    state->camera->setUnplugListener(nullptr);
    // A callback may be running on the camera's thread: let it finish before freeing.
    state->camera->waitIdle(2000);
    return kOk;
}

int SimHikApi::openDevice(HikHandle handle, unsigned, unsigned short)
{
    Handle *h = find(handle);
    if (!h)
        return kErrorHandle;
    return h->camera->open() ? kOk : kErrorAccessDenied;
}

int SimHikApi::closeDevice(HikHandle handle)
{
    Handle *h = find(handle);
    if (!h)
        return kErrorHandle;
    h->camera->close();
    return kOk;
}

int SimHikApi::getDeviceUserId(HikHandle handle, std::string &userId)
{
    Handle *h = find(handle);
    if (!h)
        return kErrorHandle;
    if (!h->camera->isOpen() || !h->camera->isPlugged())
        return kErrorAccessDenied;
    userId = h->camera->config().userId;
    return kOk;
}

int SimHikApi::getOptimalPacketSize(HikHandle handle)
{
    Handle *h = find(handle);
    if (!h)
        return kErrorHandle;
    if (h->camera->config().transport != SimCamera::Transport::GigE)
        return kErrorSupport;
    return 8164;
}

int SimHikApi::write(HikHandle handle, const char *key, const std::string &value)
{
    Handle *h = find(handle);
    if (!h || !key)
        return h ? kErrorParameter : kErrorHandle;
    return h->camera->writeFeature(key, value) ? kOk : kErrorAccessDenied;
}

int SimHikApi::setIntValue(HikHandle handle, const char *key, unsigned value)
{
    return write(handle, key, std::to_string(value));
}

int SimHikApi::setIntValueEx(HikHandle handle, const char *key, int64_t value)
{
    return write(handle, key, std::to_string(value));
}

int SimHikApi::getIntValueEx(HikHandle handle, const char *key, int64_t &value)
{
    Handle *h = find(handle);
    if (!h)
        return kErrorHandle;
    if (!h->camera->isOpen() || !h->camera->isPlugged())
        return kErrorAccessDenied;
    if (key && std::strcmp(key, "PayloadSize") == 0) {
        const auto &c = h->camera->config();
        value = int64_t(c.width) * c.height * (c.format == SimCamera::PixelFormat::Mono8 ? 1 : 3);
        return kOk;
    }
    return kErrorSupport;
}

int SimHikApi::setEnumValue(HikHandle handle, const char *key, unsigned value)
{
    return write(handle, key, std::to_string(value));
}

int SimHikApi::setEnumValueByString(HikHandle handle, const char *key, const char *value)
{
    return write(handle, key, value ? value : "");
}

int SimHikApi::setBoolValue(HikHandle handle, const char *key, bool value)
{
    return write(handle, key, SimFeatureValue::fromBool(value));
}

int SimHikApi::setFloatValue(HikHandle handle, const char *key, float value)
{
    return write(handle, key, SimFeatureValue::fromDouble(value));
}

int SimHikApi::setFrameRate(HikHandle handle, float framesPerSecond)
{
    return write(handle, "AcquisitionFrameRate", SimFeatureValue::fromDouble(framesPerSecond));
}

int SimHikApi::setCommandValue(HikHandle handle, const char *key)
{
    Handle *h = find(handle);
    if (!h)
        return kErrorHandle;
    if (!h->camera->writeFeature(key ? key : "", ""))
        return kErrorAccessDenied;
    // The software line trigger fires the strobe of the selected line, if it is one.
    if (key && std::strcmp(key, "LineTriggerSoftware") == 0
        && h->camera->feature("StrobeEnable") == "true") {
        h->camera->pulseOutput(
            SimCamera::lineName(h->camera->vendor(), h->camera->feature("LineSelector")));
    }
    return kOk;
}

int SimHikApi::registerEventCallback(HikHandle handle, const char *eventName,
                                     HikEventCallback callback, void *user)
{
    Handle *h = find(handle);
    if (!h)
        return kErrorHandle;
    if (!h->camera->isOpen() || !eventName)
        return kErrorAccessDenied;
    std::lock_guard<std::mutex> lock(h->mutex);
    h->events[eventName] = {callback, user};
    return kOk;
}

int SimHikApi::registerExceptionCallback(HikHandle handle, HikExceptionCallback callback,
                                         void *user)
{
    Handle *h = find(handle);
    if (!h)
        return kErrorHandle;
    std::lock_guard<std::mutex> lock(h->mutex);
    h->exceptionCallback = callback;
    h->exceptionUser = user;
    return kOk;
}

int SimHikApi::startGrabbing(HikHandle handle)
{
    Handle *h = find(handle);
    if (!h)
        return kErrorHandle;
    if (!h->camera->isOpen() || !h->camera->isPlugged())
        return kErrorAccessDenied;
    h->camera->startGrabbing();
    return kOk;
}

int SimHikApi::stopGrabbing(HikHandle handle)
{
    Handle *h = find(handle);
    if (!h)
        return kErrorHandle;
    h->camera->stopGrabbing();
    return kOk;
}

int SimHikApi::getOneFrameTimeout(HikHandle handle, unsigned char *buffer, unsigned bufferSize,
                                  HikFrameInfo &info, unsigned timeoutMs)
{
    Handle *h = find(handle);
    if (!h)
        return kErrorHandle;
    if (!h->camera->isGrabbing())
        return kErrorAccessDenied;
    cv::Mat frame;
    if (!h->camera->waitFrame(frame, static_cast<int>(timeoutMs)))
        return kErrorNoData;
    const size_t bytes = frame.total() * frame.elemSize();
    if (!buffer || bytes > bufferSize || !frame.isContinuous())
        return kErrorParameter;
    std::memcpy(buffer, frame.data, bytes);
    info.width = static_cast<unsigned short>(frame.cols);
    info.height = static_cast<unsigned short>(frame.rows);
    info.pixelType = kPixelMono8;
    info.frameLength = static_cast<unsigned>(bytes);
    return kOk;
}
