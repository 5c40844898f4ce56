#include "AravisHikApi.h"

#include "PlainSfncWay.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

// One handle: the listed device, and once opened its camera and callbacks.
struct AravisHikApi::Device
{
    AravisCamera::Info info;
    std::unique_ptr<AravisCamera> camera;
    std::unique_ptr<PlainSfncWay> way; // null for a Hikrobot camera: its features pass as they are
    std::mutex mutex; // guards the callbacks
    HikEventCallback rising = nullptr;
    void *risingUser = nullptr;
    HikEventCallback falling = nullptr;
    void *fallingUser = nullptr;
    HikExceptionCallback exception = nullptr;
    void *exceptionUser = nullptr;
    int shots = 1;
    bool triggered = true;
};

AravisHikApi::AravisHikApi() = default;

AravisHikApi::~AravisHikApi()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_devices.clear();
}

int AravisHikApi::enumDevices(unsigned layerMask, std::vector<HikDeviceInfo> &list)
{
    list.clear();
    std::vector<AravisCamera::Info> devices = AravisCamera::list();
    std::vector<AravisCamera::Info> kept;
    for (const AravisCamera::Info &d : devices) {
        const unsigned layer = d.protocol == "GigEVision" ? HikDeviceInfo::kGigE
                               : d.protocol == "USB3Vision" ? HikDeviceInfo::kUsb3
                                                            : 0;
        if (!(layer & layerMask))
            continue;
        HikDeviceInfo info;
        info.layerType = layer;
        info.manufacturerName = d.vendor;
        info.modelName = d.model;
        info.serialNumber = d.serial;
        list.push_back(info);
        kept.push_back(d);
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_listed = kept;
    return kOk;
}

int AravisHikApi::createHandle(HikHandle *handle, const HikDeviceInfo &info)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const AravisCamera::Info &d : m_listed) {
        if (d.serial != info.serialNumber || d.vendor != info.manufacturerName || d.model != info.modelName)
            continue;
        auto device = std::make_unique<Device>();
        device->info = d;
        *handle = device.get();
        m_devices.push_back(std::move(device));
        return kOk;
    }
    return kError;
}

int AravisHikApi::destroyHandle(HikHandle handle)
{
    std::unique_ptr<Device> gone;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = std::find_if(m_devices.begin(), m_devices.end(), [handle](const auto &d) { return d.get() == handle; });
        if (it == m_devices.end())
            return kError;
        gone = std::move(*it);
        m_devices.erase(it);
    }
    return kOk; // its camera, if still open, is released with it
}

AravisHikApi::Device *AravisHikApi::device(HikHandle handle) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto &d : m_devices)
        if (d.get() == handle)
            return d.get();
    return nullptr;
}

AravisCamera *AravisHikApi::camera(HikHandle handle) const
{
    Device *d = device(handle);
    return d ? d->camera.get() : nullptr;
}

PlainSfncWay *AravisHikApi::way(HikHandle handle) const
{
    Device *d = device(handle);
    return d ? d->way.get() : nullptr;
}

bool AravisHikApi::isHikrobot(const std::string &maker)
{
    std::string m;
    for (char ch : maker)
        m += char(std::toupper(static_cast<unsigned char>(ch)));
    return m.rfind("HIK", 0) == 0;
}

int AravisHikApi::result(bool ok)
{
    return ok ? kOk : kError;
}

int AravisHikApi::openDevice(HikHandle handle, unsigned, unsigned short)
{
    Device *d = device(handle);
    if (!d)
        return kError;
    if (d->camera)
        return kError; // opened once per camera, as the SDK does
    std::string error;
    d->camera = AravisCamera::open(d->info, &error);
    if (!d->camera) {
        std::printf("GenICam camera %s %s (%s) cannot be opened: %s\n", d->info.vendor.c_str(),
                    d->info.model.c_str(), d->info.address.c_str(), error.c_str());
        std::fflush(stdout);
        return kError;
    }
    if (!isHikrobot(d->info.vendor))
        d->way = std::make_unique<PlainSfncWay>(*d->camera, d->info.vendor);
    d->camera->setEdgeCallback([d](bool rising, uint64_t timeNs) {
        HikEventCallback callback;
        void *user;
        {
            std::lock_guard<std::mutex> lock(d->mutex);
            callback = rising ? d->rising : d->falling;
            user = rising ? d->risingUser : d->fallingUser;
        }
        if (callback) {
            HikEventInfo info;
            info.eventName = rising ? "Line0RisingEdge" : "Line0FallingEdge";
            info.timestampNs = timeNs;
            callback(info, user);
        }
    });
    d->camera->setLostCallback([d] {
        HikExceptionCallback callback;
        void *user;
        {
            std::lock_guard<std::mutex> lock(d->mutex);
            callback = d->exception;
            user = d->exceptionUser;
        }
        if (callback)
            callback(kDeviceLost, user);
    });
    return kOk;
}

int AravisHikApi::closeDevice(HikHandle handle)
{
    Device *d = device(handle);
    if (!d || !d->camera)
        return kError;
    d->way.reset();
    d->camera.reset();
    return kOk;
}

int AravisHikApi::getDeviceUserId(HikHandle handle, std::string &userId)
{
    AravisCamera *c = camera(handle);
    return c && c->getString("DeviceUserID", userId) ? kOk : kError;
}

int AravisHikApi::getOptimalPacketSize(HikHandle handle)
{
    AravisCamera *c = camera(handle);
    const int size = c ? c->autoPacketSize() : 0;
    return size > 0 ? size : kError;
}

int AravisHikApi::setIntValue(HikHandle handle, const char *key, unsigned value)
{
    return setIntValueEx(handle, key, value);
}

int AravisHikApi::setIntValueEx(HikHandle handle, const char *key, int64_t value)
{
    AravisCamera *c = camera(handle);
    if (PlainSfncWay *w = way(handle))
        return result(w->setInt(key, value));
    return result(c && c->setInteger(key, value));
}

int AravisHikApi::getIntValueEx(HikHandle handle, const char *key, int64_t &value)
{
    AravisCamera *c = camera(handle);
    return result(c && c->getInteger(key, value));
}

int AravisHikApi::setEnumValue(HikHandle handle, const char *key, unsigned value)
{
    AravisCamera *c = camera(handle);
    PlainSfncWay *w = way(handle);
    const int r = result(w ? w->setEnum(key, value) : c && c->setInteger(key, value));
    if (r == kOk && std::strcmp(key, "TriggerMode") == 0) {
        // Free run (debug mode) has no products: every frame stands alone.
        Device *d = device(handle);
        d->triggered = value != 0;
        c->setShotsPerProduct(d->triggered ? d->shots : 0);
    }
    return r;
}

int AravisHikApi::setEnumValueByString(HikHandle handle, const char *key, const char *value)
{
    AravisCamera *c = camera(handle);
    // The line events are made from the frames: a camera without GigE Vision events (or
    // whose events Aravis would not pass on) has them all the same.
    if (c && (std::strcmp(key, "EventSelector") == 0 || std::strcmp(key, "EventNotification") == 0)
        && !c->isAvailable(key))
        return kOk;
    return result(c && c->setString(key, value));
}

int AravisHikApi::setBoolValue(HikHandle handle, const char *key, bool value)
{
    AravisCamera *c = camera(handle);
    if (PlainSfncWay *w = way(handle))
        return result(w->setBool(key, value));
    return result(c && c->setBoolean(key, value));
}

int AravisHikApi::setFloatValue(HikHandle handle, const char *key, float value)
{
    AravisCamera *c = camera(handle);
    return result(c && c->setFloat(key, value));
}

int AravisHikApi::setFrameRate(HikHandle handle, float framesPerSecond)
{
    return setFloatValue(handle, "AcquisitionFrameRate", framesPerSecond);
}

int AravisHikApi::setCommandValue(HikHandle handle, const char *key)
{
    AravisCamera *c = camera(handle);
    // The reject pulse of an edge that came too late would eject the next box: better the
    // one box passed that cannot be reached than a good one thrown out besides.
    if (c && std::strcmp(key, "LineTriggerSoftware") == 0 && c->holdPulse())
        return kError;
    if (PlainSfncWay *w = way(handle))
        return result(w->execute(key));
    return result(c && c->execute(key));
}

int AravisHikApi::registerEventCallback(HikHandle handle, const char *eventName, HikEventCallback callback,
                                        void *user)
{
    Device *d = device(handle);
    if (!d)
        return kError;
    std::lock_guard<std::mutex> lock(d->mutex);
    if (std::strcmp(eventName, "Line0RisingEdge") == 0) {
        d->rising = callback;
        d->risingUser = user;
    } else if (std::strcmp(eventName, "Line0FallingEdge") == 0) {
        d->falling = callback;
        d->fallingUser = user;
    } else {
        return kError; // no other event is made from the frames
    }
    return kOk;
}

int AravisHikApi::registerExceptionCallback(HikHandle handle, HikExceptionCallback callback, void *user)
{
    Device *d = device(handle);
    if (!d)
        return kError;
    std::lock_guard<std::mutex> lock(d->mutex);
    d->exception = callback;
    d->exceptionUser = user;
    return kOk;
}

int AravisHikApi::setShotsPerProduct(HikHandle handle, int shots)
{
    Device *d = device(handle);
    if (!d)
        return kError;
    d->shots = std::max(1, shots);
    if (d->camera)
        d->camera->setShotsPerProduct(d->triggered ? d->shots : 0);
    return kOk;
}

int AravisHikApi::startGrabbing(HikHandle handle)
{
    AravisCamera *c = camera(handle);
    return result(c && c->startGrabbing());
}

int AravisHikApi::stopGrabbing(HikHandle handle)
{
    AravisCamera *c = camera(handle);
    if (!c)
        return kError;
    c->stopGrabbing();
    return kOk;
}

int AravisHikApi::getOneFrameTimeout(HikHandle handle, unsigned char *buffer, unsigned bufferSize,
                                     HikFrameInfo &info, unsigned timeoutMs)
{
    AravisCamera *c = camera(handle);
    if (!c)
        return kError;
    AravisCamera::Frame frame;
    if (!c->nextFrame(frame, int(timeoutMs)))
        return kNoData;
    if (frame.data.size() > bufferSize)
        return kError;
    std::memcpy(buffer, frame.data.data(), frame.data.size());
    info.width = static_cast<unsigned short>(frame.width);
    info.height = static_cast<unsigned short>(frame.height);
    info.pixelType = int(frame.pixelFormat); // PFNC codes are the SDK's pixel types
    info.frameLength = unsigned(frame.data.size());
    return kOk;
}

AravisCamera::Counters AravisHikApi::counters(HikHandle handle) const
{
    AravisCamera *c = camera(handle);
    return c ? c->counters() : AravisCamera::Counters();
}
