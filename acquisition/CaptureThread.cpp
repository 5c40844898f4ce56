#include "CaptureThread.h"


#include <QString>

#include <cstdio>

namespace {
void unexpected(const char *call, int code, const std::string &text, bool withCode)
{
    if (withCode)
        std::printf("'FunctionInterface.%s' returned with an unexpected result: %d(%s)\n", call, code,
                    text.c_str());
    else
        std::printf("'FunctionInterface.%s' returned with an unexpected result: %s\n", call,
                    text.c_str());
    std::fflush(stdout);
}
} // namespace

CaptureThread::CaptureThread(BalluffDevice &device, bool stop, BalluffFunctionInterface &functions,
                             int index, QObject *parent)
    : CaptureWorker(stop, index, parent)
    , m_device(device)
    , m_functions(functions)
{
}

void CaptureThread::process()
{
    try {
        m_device.writeS("EventSelector", "Line5AnyEdge");
        m_device.writeS("EventNotification", "On");
        m_device.registerLineEventCallback([this] { onLineEvent(); });

        int result;
        while ((result = m_functions.imageRequestSingle()) == 0) {
        }
        if (result != BalluffFunctionInterface::kErrorNoFreeRequest)
            unexpected("imageRequestSingle", result, m_functions.errorText(result), false);
        if (m_device.acquisitionStartStopBehaviour() == BalluffDevice::kStartStopUserControlled) {
            result = m_functions.acquisitionStart();
            if (result != 0)
                unexpected("acquisitionStart", result, m_functions.errorText(result), true);
        }
        m_frames = 0;
        grabLoop();
    } catch (const BalluffError &e) {
        emit error(QString::fromStdString(e.what()));
        std::printf("%s\n", e.what());
        std::fflush(stdout);
        stopAcquisition();
        lostDevice(); // the grab loop is over: no more pictures from this camera
    }
    // The device stays with the device manager: it must not call this worker any more.
    m_device.deregisterLineEventCallback();
}

void CaptureThread::grabLoop()
{
    for (;;) {
        if (m_stop) {
            stopAcquisition();
            return;
        }
        const int nr = m_functions.imageRequestWaitFor(200);
        if (!m_functions.isRequestNrValid(nr))
            continue;
        if (nr >= m_functions.requestCount())
            m_functions.updateRequests();
        const BalluffRequest request = m_functions.request(nr);
        if (request.result == BalluffRequest::kResultOk && request.buffer) {
            const bool colour = request.pixelFormat == BalluffRequest::kPixelBgrPacked
                                || request.pixelFormat == BalluffRequest::kPixelRgbPacked;
            frameGrabbed(cv::Mat(request.height, request.width, colour ? CV_8UC3 : CV_8UC1,
                                 const_cast<uint8_t *>(request.buffer), request.linePitch)
                             .clone());
            if (++m_frames % kStatisticsEveryFrames == 0)
                emit updateStatistics(QString::fromStdString(m_device.framesPerSecond()).left(4),
                                      m_index);
        }
        // Keep this request until the next one has come; give the previous one back.
        if (m_heldRequest >= 0)
            m_functions.imageRequestUnlock(m_heldRequest);
        m_heldRequest = nr;
        m_functions.imageRequestSingle();
    }
}

void CaptureThread::stopAcquisition()
{
    if (m_device.acquisitionStartStopBehaviour() == BalluffDevice::kStartStopUserControlled) {
        const int result = m_functions.acquisitionStop();
        if (result != 0)
            unexpected("acquisitionStop", result, m_functions.errorText(result), false);
    }
    if (m_heldRequest >= 0)
        m_functions.imageRequestUnlock(m_heldRequest);
    m_heldRequest = -1;
    m_functions.imageRequestReset();
}

void CaptureThread::onLineEvent()
{
    try {
        m_device.writeS("LineSelector", "Line5");
        if (m_device.readBool("LineStatus")) {
            const Ejection ejection = productAtEjector();
            if (ejection != Ejection::None) {
                m_device.writeS("UserOutputSelector",
                                ejection == Ejection::Good ? "UserOutput1" : "UserOutput0");
                m_device.writeBool("UserOutputValue", !m_device.readBool("UserOutputValue"));
            }
        } else {
            productWindowClosed();
        }
    } catch (const BalluffError &e) {
        // An exception must not leave the SDK's callback thread.
        emit error(QString::fromStdString(e.what()));
    }
}
