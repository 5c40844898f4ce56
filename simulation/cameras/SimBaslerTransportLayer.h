#pragma once

#include "BaslerTransportLayer.h"

#include <atomic>
#include <vector>

class SimCamera;

// The pylon runtime and device factory over simulated Basler cameras (not owned).
class SimBaslerTransportLayer : public BaslerTransportLayer
{
public:
    explicit SimBaslerTransportLayer(std::vector<SimCamera *> cameras);

    void initialize() override;
    void terminate() override;
    std::vector<BaslerDeviceInfo> enumerateDevices() override;
    std::unique_ptr<BaslerCamera> createCamera(const BaslerDeviceInfo &info) override;

    // Makes the next enumerations raise, as a broken transport layer would.
    void setEnumerationFails(bool fails) { m_enumerationFails = fails; }
    int initializeCount() const { return m_initialized; }
    int terminateCount() const { return m_terminated; }

private:
    std::vector<SimCamera *> m_cameras;
    std::atomic<bool> m_enumerationFails{false};
    std::atomic<int> m_initialized{0};
    std::atomic<int> m_terminated{0};
};
