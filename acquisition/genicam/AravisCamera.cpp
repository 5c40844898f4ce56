// Aravis first: Qt's "signals" keyword (pulled in by the station's headers) breaks it.
#include <arv.h>

#include "AravisCamera.h"

#include "CapturePriority.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <utility>

namespace {
ArvCamera *cam(void *p) { return static_cast<ArvCamera *>(p); }
ArvDevice *dev(void *p) { return arv_camera_get_device(cam(p)); }

// Enough for the frames of a few products in flight on the wire and in the grouper.
constexpr int kBuffers = 16;
constexpr guint64 kPopTimeoutUs = 50000;
// The grab loop asks for frames every few milliseconds; a product's frames are handed
// over and its window closed only once it has them, or after this long.
constexpr int kTakeWaitMs = 100;
constexpr size_t kMaxReady = 64; // a grab loop that stopped asking: the oldest frames go
constexpr unsigned kFrameRetentionUs = 20000;

uint64_t nowNs()
{
    return uint64_t(g_get_real_time()) * 1000;
}

// The socket's receive buffer is bounded by net.core.rmem_max: a frame larger than that
// arrives with packets missing whenever the stream thread is a little late.
void warnSmallSocketBuffer(size_t payload)
{
    static std::atomic<bool> said{false};
    std::ifstream in("/proc/sys/net/core/rmem_max");
    size_t max = 0;
    if (!(in >> max) || max >= payload || said.exchange(true))
        return;
    std::printf("GigE Vision: the socket buffer limit (net.core.rmem_max = %zu) is smaller than one frame "
                "(%zu bytes); frames will arrive incomplete under load. Raise it, e.g. sysctl -w "
                "net.core.rmem_max=%zu\n",
                max, payload, std::max<size_t>(payload * 4, 8 << 20));
    std::fflush(stdout);
}
} // namespace

std::vector<AravisCamera::Info> AravisCamera::list()
{
    arv_update_device_list();
    std::vector<Info> devices;
    const unsigned n = arv_get_n_devices();
    for (unsigned i = 0; i < n; ++i) {
        auto text = [](const char *s) { return s ? std::string(s) : std::string(); };
        Info info;
        info.id = text(arv_get_device_id(i));
        info.vendor = text(arv_get_device_vendor(i));
        info.model = text(arv_get_device_model(i));
        info.serial = text(arv_get_device_serial_nbr(i));
        info.address = text(arv_get_device_address(i));
        info.protocol = text(arv_get_device_protocol(i));
        devices.push_back(info);
    }
    return devices;
}

std::unique_ptr<AravisCamera> AravisCamera::open(const Info &info, std::string *error)
{
    GError *e = nullptr;
    ArvCamera *camera = arv_camera_new(info.id.c_str(), &e);
    if (!camera) {
        if (error)
            *error = e ? e->message : "no such camera";
        g_clear_error(&e);
        return nullptr;
    }
    std::unique_ptr<AravisCamera> c(new AravisCamera);
    c->m_camera = camera;
    c->m_info = info;
    g_signal_connect(arv_camera_get_device(camera), "control-lost", G_CALLBACK(&AravisCamera::controlLost), c.get());
    return c;
}

AravisCamera::~AravisCamera()
{
    stopGrabbing();
    if (!m_camera)
        return;
    g_signal_handlers_disconnect_by_data(arv_camera_get_device(cam(m_camera)), this);
    ArvCamera *camera = cam(m_camera);
    m_camera = nullptr;
    if (m_lost) {
        std::thread([camera] { g_object_unref(camera); }).detach();
        return;
    }
    g_object_unref(camera);
}

void AravisCamera::controlLost(void *, void *self)
{
    auto *c = static_cast<AravisCamera *>(self);
    if (c->m_lost.exchange(true))
        return;
    std::function<void()> callback;
    {
        std::lock_guard<std::mutex> lock(c->m_callbackMutex);
        callback = c->m_lostCallback;
    }
    if (callback)
        callback();
}

bool AravisCamera::isGigE() const
{
    return m_camera && arv_camera_is_gv_device(cam(m_camera));
}

namespace {
template <typename F>
bool attempt(std::recursive_mutex &features, std::mutex &mutex, std::string &error, F f)
{
    GError *e = nullptr;
    {
        std::lock_guard<std::recursive_mutex> lock(features);
        f(&e);
    }
    std::lock_guard<std::mutex> lock(mutex);
    if (e) {
        error = e->message;
        g_clear_error(&e);
        return false;
    }
    return true;
}
} // namespace

bool AravisCamera::setInteger(const char *name, int64_t value)
{
    return attempt(m_featureMutex, m_errorMutex, m_error, [&](GError **e) { arv_device_set_integer_feature_value(dev(m_camera), name, value, e); });
}

bool AravisCamera::getInteger(const char *name, int64_t &value)
{
    return attempt(m_featureMutex, m_errorMutex, m_error, [&](GError **e) { value = arv_device_get_integer_feature_value(dev(m_camera), name, e); });
}

bool AravisCamera::setFloat(const char *name, double value)
{
    return attempt(m_featureMutex, m_errorMutex, m_error, [&](GError **e) { arv_device_set_float_feature_value(dev(m_camera), name, value, e); });
}

bool AravisCamera::setBoolean(const char *name, bool value)
{
    return attempt(m_featureMutex, m_errorMutex, m_error, [&](GError **e) { arv_device_set_boolean_feature_value(dev(m_camera), name, value, e); });
}

bool AravisCamera::setString(const char *name, const char *value)
{
    return attempt(m_featureMutex, m_errorMutex, m_error, [&](GError **e) { arv_device_set_string_feature_value(dev(m_camera), name, value, e); });
}

bool AravisCamera::getString(const char *name, std::string &value)
{
    return attempt(m_featureMutex, m_errorMutex, m_error, [&](GError **e) {
        const char *s = arv_device_get_string_feature_value(dev(m_camera), name, e);
        value = s ? s : "";
    });
}

bool AravisCamera::execute(const char *command)
{
    return attempt(m_featureMutex, m_errorMutex, m_error, [&](GError **e) { arv_device_execute_command(dev(m_camera), command, e); });
}

bool AravisCamera::isAvailable(const char *name)
{
    GError *e = nullptr;
    std::lock_guard<std::recursive_mutex> lock(m_featureMutex);
    const bool available = arv_device_is_feature_available(dev(m_camera), name, &e);
    g_clear_error(&e);
    return available;
}

std::string AravisCamera::lastError() const
{
    std::lock_guard<std::mutex> lock(m_errorMutex);
    return m_error;
}

int AravisCamera::autoPacketSize()
{
    if (!isGigE())
        return 0;
    GError *e = nullptr;
    const guint size = arv_camera_gv_auto_packet_size(cam(m_camera), &e);
    const bool ok = !e;
    g_clear_error(&e);
    return ok ? int(size) : 0;
}

void AravisCamera::setShotsPerProduct(int shots)
{
    m_shots = shots;
}

void AravisCamera::setEdgeCallback(EdgeCallback callback)
{
    std::lock_guard<std::mutex> lock(m_callbackMutex);
    m_edge = std::move(callback);
}

void AravisCamera::setLostCallback(std::function<void()> callback)
{
    std::lock_guard<std::mutex> lock(m_callbackMutex);
    m_lostCallback = std::move(callback);
}

namespace {
void streamThreadStarts(void *, ArvStreamCallbackType type, ArvBuffer *)
{
    // Aravis's own receiving thread keeps time with the line as the grab loops do.
    if (type == ARV_STREAM_CALLBACK_TYPE_INIT)
        CapturePriority::raiseCurrentThread();
}
} // namespace

bool AravisCamera::startGrabbing()
{
    if (m_grabbing || !m_camera || m_lost)
        return m_grabbing;
    GError *e = nullptr;
    ArvStream *stream = arv_camera_create_stream(cam(m_camera), streamThreadStarts, nullptr, &e);
    if (!stream) {
        std::lock_guard<std::mutex> lock(m_errorMutex);
        m_error = e ? e->message : "no stream";
        g_clear_error(&e);
        return false;
    }
    const guint payload = arv_camera_get_payload(cam(m_camera), &e);
    g_clear_error(&e);
    if (ARV_IS_GV_STREAM(stream)) {
        // A frame waits for its missing packets (asked again) at most kFrameRetentionUs: the
        // product's window, and with it a reject pulse, must not wait longer for it.
        g_object_set(stream, "packet-resend", ARV_GV_STREAM_PACKET_RESEND_ALWAYS, "socket-buffer",
                     ARV_GV_STREAM_SOCKET_BUFFER_AUTO, "frame-retention", guint(kFrameRetentionUs), nullptr);
        warnSmallSocketBuffer(payload);
    }
    for (int i = 0; i < kBuffers; ++i)
        arv_stream_push_buffer(stream, arv_buffer_new_allocate(payload));
    m_stream = stream;
    m_grouper.reset();
    m_grouperShots = 0;
    m_held.clear();
    m_lastFed = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_ready.clear();
    }
    m_stop = false;
    arv_camera_set_acquisition_mode(cam(m_camera), ARV_ACQUISITION_MODE_CONTINUOUS, &e);
    g_clear_error(&e);
    arv_camera_start_acquisition(cam(m_camera), &e);
    if (e) {
        std::lock_guard<std::mutex> lock(m_errorMutex);
        m_error = e->message;
        g_clear_error(&e);
        g_object_unref(stream);
        m_stream = nullptr;
        return false;
    }
    m_grabbing = true;
    m_thread = std::thread(&AravisCamera::streamLoop, this);
    return true;
}

void AravisCamera::stopGrabbing()
{
    if (!m_grabbing)
        return;
    m_stop = true;
    m_frameTaken.notify_all();
    if (m_thread.joinable())
        m_thread.join();
    GError *e = nullptr;
    if (!m_lost)
        arv_camera_stop_acquisition(cam(m_camera), &e);
    g_clear_error(&e);
    if (m_stream) {
        ArvStream *stream = static_cast<ArvStream *>(m_stream);
        m_stream = nullptr;
        if (m_lost)
            std::thread([stream] { g_object_unref(stream); }).detach();
        else
            g_object_unref(stream);
    }
    m_grabbing = false;
    m_frameReady.notify_all();
}

void AravisCamera::streamLoop()
{
    CapturePriority::raiseCurrentThread();
    ArvStream *stream = static_cast<ArvStream *>(m_stream);
    std::vector<ProductGrouper::Step> steps;
    while (!m_stop) {
        if (m_shots != m_grouperShots) {
            // Triggered and free-running in turn (debug mode): a product in the making
            // when the mode changed is dropped with its frames.
            m_grouperShots = m_shots;
            m_grouper = m_grouperShots > 0 ? std::make_unique<ProductGrouper>(m_grouperShots) : nullptr;
            m_held.clear();
        }
        ArvBuffer *buffer = arv_stream_timeout_pop_buffer(stream, kPopTimeoutUs);
        steps.clear();
        if (!buffer) {
            // The frames' clock, carried on by the host's since the last frame came.
            const uint64_t now = m_lastFed + (nowNs() - m_lastArrival);
            if (m_grouper && m_lastFed != 0)
                m_grouper->idle(now, steps);
            handleSteps(steps, now);
            continue;
        }
        const bool whole = arv_buffer_get_status(buffer) == ARV_BUFFER_STATUS_SUCCESS
                           && arv_buffer_get_payload_type(buffer) == ARV_BUFFER_PAYLOAD_TYPE_IMAGE;
        // The camera's own time of the frame (nanoseconds in both GigE Vision, as Aravis
        // gives it, and USB3 Vision): products part by the gaps between shots, which the
        // host's time of arrival blurs by the stream's and the scheduler's delays. The
        // host's when the camera gives none.
        uint64_t t = arv_buffer_get_timestamp(buffer);
        if (t == 0)
            t = arv_buffer_get_system_timestamp(buffer);
        const bool timed = t != 0;
        if (!timed)
            t = nowNs();
        Frame frame;
        if (whole) {
            size_t size = 0;
            const void *data = arv_buffer_get_image_data(buffer, &size);
            frame.width = arv_buffer_get_image_width(buffer);
            frame.height = arv_buffer_get_image_height(buffer);
            frame.pixelFormat = arv_buffer_get_image_pixel_format(buffer);
            frame.timeNs = t;
            frame.data.assign(static_cast<const unsigned char *>(data), static_cast<const unsigned char *>(data) + size);
        }
        arv_stream_push_buffer(stream, buffer);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            ++(whole ? m_counters.frames : m_counters.incomplete);
        }
        if (!m_grouper) {
            if (whole) {
                m_held.push_back(std::move(frame));
                handleSteps({ProductGrouper::Step::Deliver}, t);
            }
            continue;
        }
        // A broken frame without its first packet has no time of its own, and one finished
        // late (its missing packets waited for) comes after later frames: neither can say
        // where products part. It is left out; its product, a frame short, is cut short.
        if (!whole && (!timed || t < m_lastFed))
            continue;
        m_lastFed = t;
        m_lastArrival = nowNs();
        // Steps caused by this frame before it joins its product (a product cut short is
        // closed first), then the frame, then the steps it completes.
        m_grouper->frame(t, whole, steps);
        const auto open = std::find(steps.begin(), steps.end(), ProductGrouper::Step::Open);
        const bool openLate = open != steps.end() && timed && noteEdge(t);
        const auto joins = open == steps.end() ? steps.begin() : open + 1;
        handleSteps({steps.begin(), joins}, t, openLate);
        if (whole)
            m_held.push_back(std::move(frame));
        handleSteps({joins, steps.end()}, t);
    }
}

bool AravisCamera::noteEdge(uint64_t frameNs)
{
    const EdgeLateness::Edge edge = m_lateness.open(frameNs, nowNs());
    if (!edge.overHalf)
        return false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_counters.lateEdges;
    }
    // Said once per open camera; the account counts them all.
    if (!std::exchange(m_lateSaid, true)) {
        std::printf("GenICam camera %s: a product's window opened %.0f ms late (its first frame waiting for "
                    "lost packets, or lost, or a slow network): a reject pulse due then is held back, since it "
                    "would hit the next box.\n",
                    m_info.address.c_str(), double(edge.lateNs) / 1e6);
        std::fflush(stdout);
    }
    return true;
}

bool AravisCamera::holdPulse()
{
    if (!m_inLateEdge)
        return false;
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_counters.heldPulses;
    return true;
}

void AravisCamera::handleSteps(const std::vector<ProductGrouper::Step> &steps, uint64_t timeNs, bool openLate)
{
    for (ProductGrouper::Step step : steps) {
        switch (step) {
        case ProductGrouper::Step::Deliver: {
            std::unique_lock<std::mutex> lock(m_mutex);
            for (Frame &f : m_held)
                m_ready.push_back(std::move(f));
            m_held.clear();
            m_delivered = true;
            while (m_ready.size() > kMaxReady)
                m_ready.pop_front();
            m_frameReady.notify_all();
            // The window closes once the grab loop has put the product's frames with the
            // product: it has taken the last one and come back for the next.
            if (m_grouper)
                m_frameTaken.wait_for(lock, std::chrono::milliseconds(kTakeWaitMs),
                                      [this] { return (m_ready.empty() && m_consumerWaiting) || m_stop; });
            break;
        }
        case ProductGrouper::Step::Open:
        case ProductGrouper::Step::Close: {
            const bool rising = step == ProductGrouper::Step::Open;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                if (rising)
                    ++m_counters.products;
                else if (!m_delivered)
                    ++m_counters.cutShort;
            }
            // A product cut short: its frames never go. A new one starts with none.
            m_held.clear();
            m_delivered = false;
            EdgeCallback edge;
            {
                std::lock_guard<std::mutex> lock(m_callbackMutex);
                edge = m_edge;
            }
            if (edge) {
                m_inLateEdge = rising && openLate;
                edge(rising, timeNs);
                m_inLateEdge = false;
            }
            break;
        }
        }
    }
}

bool AravisCamera::nextFrame(Frame &frame, int timeoutMs)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_consumerWaiting = true;
    m_frameTaken.notify_all();
    const bool got = m_frameReady.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return !m_ready.empty(); });
    m_consumerWaiting = false;
    if (!got)
        return false;
    frame = std::move(m_ready.front());
    m_ready.pop_front();
    return true;
}

AravisCamera::Counters AravisCamera::counters() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_counters;
}
