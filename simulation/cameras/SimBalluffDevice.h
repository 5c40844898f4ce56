#pragma once

#include "BalluffDevice.h"

#include <atomic>
#include <mutex>

class SimCamera;

// A Balluff device served by a simulated camera (not owned).
class SimBalluffDevice : public BalluffDevice
{
public:
    explicit SimBalluffDevice(SimCamera *camera);
    ~SimBalluffDevice() override;

    SimCamera *simCamera() const { return m_camera; }

    std::string manufacturer() const override;
    int interfaceLayout() const override { return m_interfaceLayout; }
    void setInterfaceLayout(int layout) override { m_interfaceLayout = layout; }
    int acquisitionStartStopBehaviour() const override { return kStartStopUserControlled; }
    void open() override;
    void close() override;
    bool isOpen() const override;

    void writeS(const std::string &name, const std::string &value) override;
    void writeInt64(const std::string &name, int64_t value) override;
    void writeDouble(const std::string &name, double value) override;
    void writeBool(const std::string &name, bool value) override;
    std::string readS(const std::string &name) override;
    bool readBool(const std::string &name) override;

    void registerLineEventCallback(std::function<void()> callback) override;
    void deregisterLineEventCallback() override;

    std::unique_ptr<BalluffFunctionInterface> createFunctionInterface() override;
    std::string framesPerSecond() override;

private:
    void write(const char *operation, const std::string &name, const std::string &value);

    SimCamera *m_camera;
    std::atomic<int> m_interfaceLayout{1};
    std::mutex m_mutex; // guards m_lineCallback
    std::function<void()> m_lineCallback;
};
