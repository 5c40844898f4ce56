#pragma once

#include "CaptureWorker.h"
#include "HikApi.h"
#include "LockedList.h"

#include <QString>

#include <atomic>
#include <cstdint>
#include <vector>

class QTimer;

// Grabs the frames of one HIK camera in its own thread and groups them by product:
// frames between two falling edges of the product-window line (Line0) are stacked,
// earliest on top, into one FrameRecord for the inspection worker; at each rising edge
// the verdict of the product two windows back fires the reject strobe on Line1 when it
// is bad. In debug mode frames go to the debug queue instead.
//
// The edge and exception callbacks run on the SDK's thread; they only move frames and
// list entries and fire the output, so they stay cheap.
class CaptureThreadHIK : public CaptureWorker
{
    Q_OBJECT
public:
    static constexpr size_t kGrabBufferBytes = 27000000;

    CaptureThreadHIK(HikApi &api, HikHandle handle, bool stop, int index, QObject *parent = nullptr);

public slots:
    void process() override;
    void fpsTimeout();

private:
    static void onFallingEdge(const HikEventInfo &info, void *user);
    static void onRisingEdge(const HikEventInfo &info, void *user);
    static void onException(unsigned messageType, void *user);
    void fallingEdge();
    void risingEdge();

    HikApi &m_api;
    HikHandle m_handle;
    std::vector<unsigned char> m_grabBuffer;
    QTimer *m_timer = nullptr;
    std::atomic<uint64_t> m_frameCount{0};
    uint64_t m_lastTickCount = 0;
};
