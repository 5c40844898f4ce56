#include "CaptureThreadBasler.h"

#include "BaslerFrameConverter.h"


#include <QCoreApplication>
#include <QTimer>

#include <cstdio>

class CaptureThreadBasler::ImageHandler : public BaslerImageEventHandler
{
public:
    explicit ImageHandler(CaptureThreadBasler &worker) : m_worker(worker) {}
    void onImageGrabbed(BaslerCamera &, const BaslerGrabResult &result) override
    {
        m_worker.onImage(result);
    }

private:
    CaptureThreadBasler &m_worker;
};

class CaptureThreadBasler::EventHandler : public BaslerCameraEventHandler
{
public:
    explicit EventHandler(CaptureThreadBasler &worker) : m_worker(worker) {}
    // Runs on pylon's event thread.
    void onCameraEvent(BaslerCamera &, intptr_t id, const std::string &) override
    {
        m_worker.onEvent(id);
    }

private:
    CaptureThreadBasler &m_worker;
};

CaptureThreadBasler::CaptureThreadBasler(BaslerCamera &camera, bool stop, int index, QObject *parent)
    : CaptureWorker(stop, index, parent)
    , m_camera(camera)
{
}

CaptureThreadBasler::~CaptureThreadBasler() = default;

void CaptureThreadBasler::process()
{
    m_imageHandler = std::make_unique<ImageHandler>(*this);
    m_eventHandler = std::make_unique<EventHandler>(*this);
    try {
        m_camera.registerImageEventHandler(m_imageHandler.get());
        if (m_camera.trySetEnum("TriggerSelector", 9)) {
            m_camera.setEnum("TriggerMode", 0);
            if (m_camera.trySetEnum("EventSelector", 9))
                m_camera.setEnum("EventNotification", 1);
        }
        m_camera.registerCameraEventHandler(m_eventHandler.get(), "EventLine1RisingEdgeData",
                                            kRisingEdgeId);
        m_camera.setEnumString("EventSelector", "Line1RisingEdge");
        m_camera.setEnum("EventNotification", 2);
        m_camera.registerCameraEventHandler(m_eventHandler.get(), "EventLine1FallingEdgeData",
                                            kFallingEdgeId);
        m_camera.setEnumString("EventSelector", "Line1FallingEdge");
        m_camera.setEnum("EventNotification", 2);
        m_camera.startGrabbing();

        m_timer = new QTimer;
        connect(m_timer, &QTimer::timeout, this, &CaptureThreadBasler::fpsTimeout);
        m_timer->start(1000);
        while (!m_stop) {
            m_camera.retrieveResult(200);
            QCoreApplication::processEvents();
        }
        m_camera.stopGrabbing();
    } catch (const BaslerError &e) {
        emit error(QString::fromStdString(e.description()));
        std::printf("%s\n", e.description());
        std::fflush(stdout);
        lostDevice(); // the grab loop is over: no more pictures from this camera
    }
    delete m_timer;
    m_timer = nullptr;
    // The camera outlives this worker: it must not call into it any more.
    m_camera.deregisterImageEventHandler(m_imageHandler.get());
    m_camera.deregisterCameraEventHandler(m_eventHandler.get());
}

void CaptureThreadBasler::fpsTimeout()
{
    const uint64_t now = m_frameCount;
    const uint64_t frames = now - m_lastTickCount;
    m_lastTickCount = now;
    emit updateStatistics(QString::number(frames).left(4), m_index);
}

void CaptureThreadBasler::onImage(const BaslerGrabResult &result)
{
    if (!result.succeeded || !result.buffer)
        return;
    const cv::Mat frame = BaslerFrameConverter::toMono8(result);
    if (frame.empty()) {
        // Said once per worker, not per frame: every frame of this camera is lost.
        if (!m_formatRefused.exchange(true)) {
            std::printf("Camera %d sends pixel format %d, which the station cannot inspect:"
                        " its frames are dropped\n",
                        m_index + 1, result.pixelFormat);
            std::fflush(stdout);
        }
        return;
    }
    frameGrabbed(frame);
    ++m_frameCount;
}

void CaptureThreadBasler::onEvent(intptr_t id)
{
    try {
        if (id == kFallingEdgeId) {
            productWindowClosed();
        } else if (id == kRisingEdgeId) {
            const Ejection ejection = productAtEjector();
            if (ejection != Ejection::None) {
                m_camera.setEnum("UserOutputSelector", ejection == Ejection::Good ? 1 : 3);
                m_camera.setBool("UserOutputValue", false);
                m_camera.setBool("UserOutputValue", true);
            }
        }
    } catch (const BaslerError &e) {
        // An exception must not leave pylon's event thread.
        emit error(QString::fromStdString(e.description()));
    }
}
