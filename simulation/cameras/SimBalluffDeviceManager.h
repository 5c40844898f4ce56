#pragma once

#include "BalluffDevice.h"

#include <memory>
#include <vector>

class SimCamera;

class SimBalluffDeviceManager : public BalluffDeviceManager
{
public:
    explicit SimBalluffDeviceManager(std::vector<SimCamera *> cameras);

    void updateDeviceList() override;
    int deviceCount() const override;
    BalluffDevice *device(int index) override;

private:
    std::vector<SimCamera *> m_cameras;
    std::vector<std::unique_ptr<BalluffDevice>> m_devices;
};
