#pragma once

#include "AravisCamera.h"
#include "HikApi.h"

#include <map>
#include <string>
#include <memory>
#include <mutex>
#include <vector>

// The HIK MVS operations on GenICam cameras through Aravis. HIK's own SDK is GenICam
// underneath: its named features are the camera's, and enumeration values are the
// entries' values of the camera's description, so writes pass through by name. What
// GenICam through Aravis lacks, the line events, is made from the frames
// (AravisCamera's product windows): "Line0RisingEdge" when a product's first frame
// comes, "Line0FallingEdge" once its frames were grabbed. A lost control channel is the
// device exception.
class PlainSfncWay;

class AravisHikApi : public HikApi
{
public:
    AravisHikApi();
    ~AravisHikApi() override;

    int enumDevices(unsigned layerMask, std::vector<HikDeviceInfo> &list) override;
    int createHandle(HikHandle *handle, const HikDeviceInfo &info) override;
    int destroyHandle(HikHandle handle) override;
    int openDevice(HikHandle handle, unsigned accessMode, unsigned short switchoverKey) override;
    int closeDevice(HikHandle handle) override;
    int getDeviceUserId(HikHandle handle, std::string &userId) override;
    int getOptimalPacketSize(HikHandle handle) override;
    int setIntValue(HikHandle handle, const char *key, unsigned value) override;
    int setIntValueEx(HikHandle handle, const char *key, int64_t value) override;
    int getIntValueEx(HikHandle handle, const char *key, int64_t &value) override;
    int setEnumValue(HikHandle handle, const char *key, unsigned value) override;
    int setEnumValueByString(HikHandle handle, const char *key, const char *value) override;
    int setBoolValue(HikHandle handle, const char *key, bool value) override;
    int setFloatValue(HikHandle handle, const char *key, float value) override;
    int setFrameRate(HikHandle handle, float framesPerSecond) override;
    int setCommandValue(HikHandle handle, const char *key) override;
    int registerEventCallback(HikHandle handle, const char *eventName, HikEventCallback callback,
                              void *user) override;
    int registerExceptionCallback(HikHandle handle, HikExceptionCallback callback, void *user) override;
    int startGrabbing(HikHandle handle) override;
    int stopGrabbing(HikHandle handle) override;
    int getOneFrameTimeout(HikHandle handle, unsigned char *buffer, unsigned bufferSize, HikFrameInfo &info,
                           unsigned timeoutMs) override;
    int setShotsPerProduct(HikHandle handle, int shots) override;
    // Every maker's GenICam camera comes through here: Hikrobot's features pass as they
    // are, the others' are translated (PlainSfncWay).
    bool takesAnyMaker() const override { return true; }
    static bool isHikrobot(const std::string &maker);

    // Frames and products of an open handle, for the line account.
    AravisCamera::Counters counters(HikHandle handle) const;

    static constexpr int kError = -1;          // a failed call
    static constexpr int kNoData = int(0x80000007u); // no frame within the time-out
    static constexpr unsigned kDeviceLost = 0x8001;

private:
    struct Device;
    Device *device(HikHandle handle) const;
    AravisCamera *camera(HikHandle handle) const;
    PlainSfncWay *way(HikHandle handle) const;
    static int result(bool ok);

    mutable std::mutex m_mutex;
    std::vector<AravisCamera::Info> m_listed;     // the last enumeration
    std::vector<std::unique_ptr<Device>> m_devices; // handles made and not destroyed
};
