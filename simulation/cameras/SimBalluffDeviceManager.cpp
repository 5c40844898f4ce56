#include "SimBalluffDeviceManager.h"

#include "SimBalluffDevice.h"

SimBalluffDeviceManager::SimBalluffDeviceManager(std::vector<SimCamera *> cameras)
    : m_cameras(std::move(cameras))
{
    updateDeviceList();
}

void SimBalluffDeviceManager::updateDeviceList()
{
    // Devices already known keep their objects (the registry holds pointers to them).
    while (m_devices.size() < m_cameras.size())
        m_devices.push_back(std::make_unique<SimBalluffDevice>(m_cameras[m_devices.size()]));
}

int SimBalluffDeviceManager::deviceCount() const
{
    return static_cast<int>(m_devices.size());
}

BalluffDevice *SimBalluffDeviceManager::device(int index)
{
    if (index < 0 || index >= deviceCount())
        return nullptr;
    return m_devices[index].get();
}
