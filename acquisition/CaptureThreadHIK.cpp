#include "CaptureThreadHIK.h"


#include <QCoreApplication>
#include <QTimer>

#include <cstdio>

namespace {
void say(const char *text)
{
    std::printf("%s\n", text);
    std::fflush(stdout);
}
} // namespace

CaptureThreadHIK::CaptureThreadHIK(HikApi &api, HikHandle handle, bool stop, int index,
                                   QObject *parent)
    : CaptureWorker(stop, index, parent)
    , m_api(api)
    , m_handle(handle)
    , m_grabBuffer(kGrabBufferBytes)
{
}

void CaptureThreadHIK::process()
{
    for (const char *event : {"Line0FallingEdge", "Line0RisingEdge"}) {
        if (m_api.setEnumValueByString(m_handle, "EventSelector", event) != HikApi::kOk)
            say("can not set EventSelector");
        if (m_api.setEnumValueByString(m_handle, "EventNotification", "On") != HikApi::kOk)
            say("can not set EventNotification");
    }
    if (m_api.registerExceptionCallback(m_handle, &CaptureThreadHIK::onException, this) != HikApi::kOk)
        say("can not register loss callback");
    if (m_api.registerEventCallback(m_handle, "Line0FallingEdge", &CaptureThreadHIK::onFallingEdge, this)
            != HikApi::kOk
        || m_api.registerEventCallback(m_handle, "Line0RisingEdge", &CaptureThreadHIK::onRisingEdge, this)
               != HikApi::kOk)
        say("can not register GPIO callback");

    m_timer = new QTimer;
    connect(m_timer, &QTimer::timeout, this, &CaptureThreadHIK::fpsTimeout);
    m_timer->start(1000);

    int64_t payload = 0;
    if (m_api.getIntValueEx(m_handle, "PayloadSize", payload) != HikApi::kOk) {
        say("Get PayloadSize error");
        payload = 0;
    }
    const unsigned payloadBytes = static_cast<unsigned>(
        std::min<int64_t>(std::max<int64_t>(payload, 0), int64_t(m_grabBuffer.size())));
    m_api.startGrabbing(m_handle);

    for (;;) {
        if (m_stop) {
            m_api.stopGrabbing(m_handle);
            m_api.closeDevice(m_handle);
            delete m_timer;
            m_timer = nullptr;
            return;
        }
        HikFrameInfo info;
        if (m_api.getOneFrameTimeout(m_handle, m_grabBuffer.data(), payloadBytes, info, 200)
            == HikApi::kOk) {
            ++m_frameCount;
            frameGrabbed(cv::Mat(info.height, info.width, CV_8UC1, m_grabBuffer.data()).clone());
        }
        QCoreApplication::processEvents();
    }
}

void CaptureThreadHIK::fpsTimeout()
{
    const uint64_t now = m_frameCount;
    const uint64_t frames = now - m_lastTickCount;
    m_lastTickCount = now;
    emit updateStatistics(QString::number(frames).left(4), m_index);
}

void CaptureThreadHIK::onFallingEdge(const HikEventInfo &, void *user)
{
    static_cast<CaptureThreadHIK *>(user)->fallingEdge();
}

void CaptureThreadHIK::onRisingEdge(const HikEventInfo &, void *user)
{
    static_cast<CaptureThreadHIK *>(user)->risingEdge();
}

void CaptureThreadHIK::onException(unsigned, void *user)
{
    // The device is gone: the grab loop stops grabbing and closes it.
    static_cast<CaptureThreadHIK *>(user)->lostDevice();
}

void CaptureThreadHIK::fallingEdge()
{
    productWindowClosed();
}

void CaptureThreadHIK::risingEdge()
{
    // Only a bad product is signalled: the strobe on Line1.
    if (productAtEjector() == Ejection::Bad) {
        m_api.setEnumValue(m_handle, "LineSelector", 1);
        m_api.setCommandValue(m_handle, "LineTriggerSoftware");
    }
}
