#pragma once

#include "HikApi.h"

#include <map>
#include <memory>
#include <mutex>
#include <vector>

class SimCamera;

// HIK operations served by simulated cameras. Handles are owned here and live until
// destroyHandle; the cameras are not owned.
class SimHikApi : public HikApi
{
public:
    explicit SimHikApi(std::vector<SimCamera *> cameras);
    ~SimHikApi() override;

    // Error codes in the SDK's style.
    static constexpr int kErrorHandle = static_cast<int>(0x80000000);
    static constexpr int kErrorSupport = static_cast<int>(0x80000001);
    static constexpr int kErrorParameter = static_cast<int>(0x80000004);
    static constexpr int kErrorNoData = static_cast<int>(0x80000007);
    static constexpr int kErrorAccessDenied = static_cast<int>(0x80000203);

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
    int registerExceptionCallback(HikHandle handle, HikExceptionCallback callback,
                                  void *user) override;
    int startGrabbing(HikHandle handle) override;
    int stopGrabbing(HikHandle handle) override;
    int getOneFrameTimeout(HikHandle handle, unsigned char *buffer, unsigned bufferSize,
                           HikFrameInfo &info, unsigned timeoutMs) override;

private:
    struct Handle;
    Handle *find(HikHandle handle) const;
    int write(HikHandle handle, const char *key, const std::string &value);

    std::vector<SimCamera *> m_cameras;
    mutable std::mutex m_mutex; // guards m_handles
    std::map<HikHandle, std::unique_ptr<Handle>> m_handles;
};
