#include "SimBalluffFunctionInterface.h"

#include "SimCamera.h"

#include <chrono>
#include <thread>

namespace {
constexpr int kErrorNotOpen = -2100;
}

SimBalluffFunctionInterface::SimBalluffFunctionInterface(SimCamera *camera)
    : m_camera(camera)
    , m_slots(kRequests)
{
}

SimBalluffFunctionInterface::~SimBalluffFunctionInterface() = default;

int SimBalluffFunctionInterface::imageRequestSingle()
{
    if (!m_camera->isOpen() || !m_camera->isPlugged())
        return kErrorNotOpen;
    std::lock_guard<std::mutex> lock(m_mutex);
    for (Slot &s : m_slots) {
        if (s.state == State::Free) {
            s.state = State::Queued;
            return 0;
        }
    }
    return kErrorNoFreeRequest;
}

int SimBalluffFunctionInterface::imageRequestWaitFor(int timeoutMs)
{
    int queued = -1;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (int i = 0; i < kRequests; ++i)
            if (m_slots[i].state == State::Queued) {
                queued = i;
                break;
            }
    }
    if (queued < 0 || !m_camera->isGrabbing()) {
        // No buffer to fill: nothing can finish before the time-out.
        std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
        return -1;
    }
    cv::Mat frame;
    if (!m_camera->waitFrame(frame, timeoutMs))
        return -1;
    std::lock_guard<std::mutex> lock(m_mutex);
    Slot &s = m_slots[queued];
    s.image = frame;
    s.result = BalluffRequest::kResultOk;
    s.state = State::Locked;
    return queued;
}

bool SimBalluffFunctionInterface::isRequestNrValid(int requestNr) const
{
    return requestNr >= 0 && requestNr < kRequests;
}

BalluffRequest SimBalluffFunctionInterface::request(int requestNr) const
{
    BalluffRequest r;
    if (!isRequestNrValid(requestNr))
        return r;
    std::lock_guard<std::mutex> lock(m_mutex);
    const Slot &s = m_slots[requestNr];
    r.result = s.result;
    if (s.image.empty())
        return r;
    r.width = s.image.cols;
    r.height = s.image.rows;
    r.linePitch = static_cast<int>(s.image.step[0]);
    r.buffer = s.image.data;
    switch (m_camera->config().format) {
    case SimCamera::PixelFormat::Mono8: r.pixelFormat = BalluffRequest::kPixelMono8; break;
    case SimCamera::PixelFormat::Bgr8: r.pixelFormat = BalluffRequest::kPixelBgrPacked; break;
    case SimCamera::PixelFormat::Rgb8: r.pixelFormat = BalluffRequest::kPixelRgbPacked; break;
    }
    return r;
}

int SimBalluffFunctionInterface::imageRequestUnlock(int requestNr)
{
    if (!isRequestNrValid(requestNr))
        return -2106;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_slots[requestNr] = Slot();
    return 0;
}

int SimBalluffFunctionInterface::imageRequestReset()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (Slot &s : m_slots)
        if (s.state != State::Locked)
            s = Slot();
    return 0;
}

int SimBalluffFunctionInterface::acquisitionStart()
{
    if (!m_camera->isOpen() || !m_camera->isPlugged())
        return kErrorNotOpen;
    m_camera->startGrabbing();
    return 0;
}

int SimBalluffFunctionInterface::acquisitionStop()
{
    m_camera->stopGrabbing();
    return 0;
}

std::string SimBalluffFunctionInterface::errorText(int code) const
{
    switch (code) {
    case 0: return "OK";
    case kErrorNoFreeRequest: return "DMR_NO_FREE_REQUEST_AVAILABLE";
    case kErrorNotOpen: return "DEV_NOT_OPEN";
    case -2106: return "DMR_INVALID_REQUEST_NUMBER";
    default: return "UNKNOWN_ERROR";
    }
}
