#pragma once

#include "BalluffDevice.h"
#include "BalluffFunctionInterface.h"
#include "CaptureWorker.h"
#include "LockedList.h"

// Grabs the frames of one Balluff camera in its own thread through the device's request
// queue and groups them by product, as the HIK worker does. The product window (Line5)
// reports both edges as one event; the line's level tells them apart. Verdicts toggle a
// user output, which starts the camera timer driving the output line: good on
// UserOutput1 (Line1), bad on UserOutput0 (Line0).
class CaptureThread : public CaptureWorker
{
    Q_OBJECT
public:
    static constexpr int kStatisticsEveryFrames = 100;

    CaptureThread(BalluffDevice &device, bool stop, BalluffFunctionInterface &functions, int index,
                  QObject *parent = nullptr);

public slots:
    void process() override;

private:
    void grabLoop();
    void stopAcquisition();
    // Runs on the SDK's callback thread for each edge of Line5.
    void onLineEvent();

    BalluffDevice &m_device;
    BalluffFunctionInterface &m_functions;
    int m_heldRequest = -1;
    uint64_t m_frames = 0;
};
