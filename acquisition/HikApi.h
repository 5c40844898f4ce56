#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The HIK MVS camera operations the station uses, in the SDK's call shape: every call
// returns 0 on success and an error code otherwise; events and device failures arrive
// through plain callbacks with a user context. A real SDK build implements this with
// MV_CC_* calls; the Linux build with simulated cameras.

using HikHandle = void *;

struct HikDeviceInfo
{
    static constexpr unsigned kGigE = 0x1;
    static constexpr unsigned kUsb3 = 0x4;

    unsigned layerType = 0;       // kGigE or kUsb3 (other layers are skipped)
    std::string manufacturerName; // as reported by the transport record
    std::string modelName;
    std::string serialNumber;
};

struct HikFrameInfo
{
    unsigned short width = 0;
    unsigned short height = 0;
    int pixelType = 0;
    unsigned frameLength = 0; // bytes
};

struct HikEventInfo
{
    std::string eventName; // "Line0RisingEdge", "Line0FallingEdge"
    uint64_t timestampNs = 0;
};

// Called on an SDK thread, once per event / per device failure.
using HikEventCallback = void (*)(const HikEventInfo &info, void *user);
using HikExceptionCallback = void (*)(unsigned messageType, void *user);

class HikApi
{
public:
    static constexpr int kOk = 0;
    static constexpr unsigned kAccessExclusive = 1;
    static constexpr int kPixelMono8 = 0x01080001;

    virtual ~HikApi() = default;

    virtual int enumDevices(unsigned layerMask, std::vector<HikDeviceInfo> &list) = 0;
    virtual int createHandle(HikHandle *handle, const HikDeviceInfo &info) = 0;
    virtual int destroyHandle(HikHandle handle) = 0;
    virtual int openDevice(HikHandle handle, unsigned accessMode, unsigned short switchoverKey) = 0;
    virtual int closeDevice(HikHandle handle) = 0;
    virtual int getDeviceUserId(HikHandle handle, std::string &userId) = 0;
    // Packet size in bytes, or a negative error code.
    virtual int getOptimalPacketSize(HikHandle handle) = 0;

    virtual int setIntValue(HikHandle handle, const char *key, unsigned value) = 0;
    virtual int setIntValueEx(HikHandle handle, const char *key, int64_t value) = 0;
    virtual int getIntValueEx(HikHandle handle, const char *key, int64_t &value) = 0;
    virtual int setEnumValue(HikHandle handle, const char *key, unsigned value) = 0;
    virtual int setEnumValueByString(HikHandle handle, const char *key, const char *value) = 0;
    virtual int setBoolValue(HikHandle handle, const char *key, bool value) = 0;
    virtual int setFloatValue(HikHandle handle, const char *key, float value) = 0;
    virtual int setFrameRate(HikHandle handle, float framesPerSecond) = 0;
    virtual int setCommandValue(HikHandle handle, const char *key) = 0;

    virtual int registerEventCallback(HikHandle handle, const char *eventName,
                                      HikEventCallback callback, void *user) = 0;
    virtual int registerExceptionCallback(HikHandle handle, HikExceptionCallback callback,
                                          void *user) = 0;

    virtual int startGrabbing(HikHandle handle) = 0;
    virtual int stopGrabbing(HikHandle handle) = 0;
    // Waits up to timeoutMs for one frame; non-zero on timeout.
    virtual int getOneFrameTimeout(HikHandle handle, unsigned char *buffer, unsigned bufferSize,
                                   HikFrameInfo &info, unsigned timeoutMs) = 0;
    // Frames per product on the line trigger, for a back-end that makes the product
    // window's edges out of the frames (GenICam through Aravis); others need not know.
    virtual int setShotsPerProduct(HikHandle, int) { return kOk; }
    // True for a back-end that drives cameras of any maker through these operations; the
    // registry then binds them all as it binds HIK's.
    virtual bool takesAnyMaker() const { return false; }
};
