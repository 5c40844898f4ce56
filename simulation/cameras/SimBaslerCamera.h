#pragma once

#include "BaslerCamera.h"

#include <mutex>
#include <vector>

class SimCamera;

// A Basler camera object served by a simulated camera (not owned).
class SimBaslerCamera : public BaslerCamera
{
public:
    explicit SimBaslerCamera(SimCamera *camera);
    ~SimBaslerCamera() override;

    SimCamera *simCamera() const { return m_camera; }

    void open() override;
    void close() override;
    bool isOpen() const override;
    std::string deviceUserId() override;

    void setEnum(const std::string &name, int64_t value) override;
    void setEnumString(const std::string &name, const std::string &entry) override;
    void setInt(const std::string &name, int64_t value) override;
    void setFloat(const std::string &name, double value) override;
    void setBool(const std::string &name, bool value) override;
    void setFloatNode(const std::string &name, double value) override;
    bool trySetEnum(const std::string &name, int64_t value) override;
    bool trySetFloat(const std::string &name, double value) override;
    bool trySetBool(const std::string &name, bool value) override;
    bool canSetEnum(const std::string &name, int64_t value) override;
    void setGrabCameraEvents(bool enabled) override;

    void registerImageEventHandler(BaslerImageEventHandler *handler) override;
    void deregisterImageEventHandler(BaslerImageEventHandler *handler) override;
    void registerCameraEventHandler(BaslerCameraEventHandler *handler,
                                    const std::string &eventDataNode,
                                    intptr_t userProvidedId) override;
    void deregisterCameraEventHandler(BaslerCameraEventHandler *handler) override;

    void startGrabbing() override;
    void stopGrabbing() override;
    bool isGrabbing() const override;
    bool retrieveResult(int timeoutMs) override;

private:
    struct CameraEventRegistration
    {
        BaslerCameraEventHandler *handler;
        std::string node;
        intptr_t id;
    };

    void requirePlugged() const;
    bool write(const std::string &name, const std::string &value);
    void writeOrRaise(const std::string &name, const std::string &value);
    void onEdge(const std::string &line, bool rising);

    SimCamera *m_camera;
    mutable std::mutex m_mutex; // guards the handler lists and m_grabCameraEvents
    std::vector<BaslerImageEventHandler *> m_imageHandlers;
    std::vector<CameraEventRegistration> m_cameraHandlers;
    bool m_grabCameraEvents = false;
    bool m_lastUserOutputValue = false;
};
