#pragma once

#include "BaslerCamera.h"

#include <memory>
#include <string>
#include <vector>

struct BaslerDeviceInfo
{
    std::string modelName;
    std::string serialNumber;
};

// The pylon runtime and its device factory. Errors are raised as BaslerError.
class BaslerTransportLayer
{
public:
    virtual ~BaslerTransportLayer() = default;

    virtual void initialize() = 0; // PylonInitialize
    virtual void terminate() = 0;  // PylonTerminate
    virtual std::vector<BaslerDeviceInfo> enumerateDevices() = 0;
    // A camera object owning the device of one entry of the list.
    virtual std::unique_ptr<BaslerCamera> createCamera(const BaslerDeviceInfo &info) = 0;
};
