#pragma once

#include "BaslerCamera.h"
#include "CaptureWorker.h"
#include "LockedList.h"

#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>

class QTimer;

// Grabs the frames of one Basler camera in its own thread and groups them by product, as
// the HIK worker does, with pylon's handlers: frames arrive through an image handler
// during the retrieve call, the product window (Line1) through camera events 200 (rising)
// and 300 (falling). Both verdicts are signalled: good on UserOutput1 (Line2), bad on
// UserOutput3 (Line4).
class CaptureThreadBasler : public CaptureWorker
{
    Q_OBJECT
public:
    CaptureThreadBasler(BaslerCamera &camera, bool stop, int index, QObject *parent = nullptr);
    ~CaptureThreadBasler() override;

    static constexpr intptr_t kRisingEdgeId = 200;
    static constexpr intptr_t kFallingEdgeId = 300;

public slots:
    void process() override;
    void fpsTimeout();

private:
    class ImageHandler;
    class EventHandler;
    void onImage(const BaslerGrabResult &result);
    void onEvent(intptr_t id);

    BaslerCamera &m_camera;
    std::unique_ptr<ImageHandler> m_imageHandler;
    std::unique_ptr<EventHandler> m_eventHandler;
    QTimer *m_timer = nullptr;
    std::atomic<uint64_t> m_frameCount{0};
    uint64_t m_lastTickCount = 0;
    std::atomic<bool> m_formatRefused{false}; // a frame of an unknown format was dropped
};
