#include "SimBaslerTransportLayer.h"

#include "SimBaslerCamera.h"
#include "SimCamera.h"

SimBaslerTransportLayer::SimBaslerTransportLayer(std::vector<SimCamera *> cameras)
    : m_cameras(std::move(cameras))
{
}

void SimBaslerTransportLayer::initialize()
{
    ++m_initialized;
}

void SimBaslerTransportLayer::terminate()
{
    ++m_terminated;
}

std::vector<BaslerDeviceInfo> SimBaslerTransportLayer::enumerateDevices()
{
    if (m_enumerationFails)
        throw BaslerError("Transport layer enumeration failed.");
    std::vector<BaslerDeviceInfo> list;
    for (SimCamera *camera : m_cameras)
        list.push_back({"acA1300-SIM", camera->config().serial});
    return list;
}

std::unique_ptr<BaslerCamera> SimBaslerTransportLayer::createCamera(const BaslerDeviceInfo &info)
{
    for (SimCamera *camera : m_cameras)
        if (camera->config().serial == info.serialNumber)
            return std::make_unique<SimBaslerCamera>(camera);
    throw BaslerError("No device with serial number " + info.serialNumber + ".");
}
