// arv.h first: Qt's keyword macros (pulled in by other headers of the project) break it.
#include <arv.h>

#include "GigeSimCamera.h"

#include "GigeSimCameraXml.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <pthread.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kWindowsToEjector = 2; // the ejector sits two product windows downstream
constexpr size_t kKeptRecords = 100000;
constexpr auto kPollPeriod = std::chrono::milliseconds(1);
constexpr auto kLinePulse = std::chrono::milliseconds(1); // Line0's trigger pulse

// The fake camera's own registers (its description's TriggerMode etc. now point at ours,
// and the I/O thread mirrors the selected trigger here).
constexpr uint32_t kFakeTriggerMode = 0x300;
constexpr uint32_t kFakeTriggerSource = 0x304; // 1: software, the only trigger it answers
constexpr uint32_t kFakeTriggerActivation = 0x308;
constexpr uint32_t kFakeTriggerSoftware = 0x30c;
constexpr uint32_t kAcquisition = 0x124; // 1 while acquiring
constexpr auto kArming = std::chrono::milliseconds(120); // after an acquisition start
constexpr size_t kTriggerQueue = 16; // triggers a camera holds before its frames are out
constexpr uint32_t kWidth = 0x100;
constexpr uint32_t kHeight = 0x104;
constexpr uint32_t kPixelFormat = 0x128;
constexpr uint32_t kSensorSize = 2048;

// The bootstrap's strings.
constexpr uint32_t kManufacturerName = 0x48; // 32 bytes
constexpr uint32_t kModelName = 0x68;        // 32 bytes
constexpr uint32_t kUserDefinedName = 0xe8;  // 16 bytes: DeviceUserID

// Ours (GigeSimCamera.xml), in the manufacturer-specific part of the register space.
constexpr uint32_t kExposureTime = 0xa000; // float
constexpr uint32_t kGain = 0xa004;         // float
constexpr uint32_t kTriggerBase = 0xa100;  // + 0x20 * selector: mode, source, activation, software
constexpr uint32_t kTriggerStride = 0x20;
constexpr int kTriggerSelectors = 2; // FrameStart, FrameBurstStart
constexpr uint32_t kLineBase = 0xa200; // + 0x20 * line: mode, source, inverter, status
constexpr uint32_t kLineStride = 0x20;
constexpr uint32_t kUserOutputBase = 0xa300; // + 4 * output: value

enum LineSource : uint32_t { SourceOff = 0, SourceUserOutput0 = 1, SourceExposureActive = 5 };

struct PixelFormatName
{
    const char *name;
    uint32_t value;
};
constexpr PixelFormatName kPixelFormats[] = {
    {"Mono8", ARV_PIXEL_FORMAT_MONO_8},         {"Mono16", ARV_PIXEL_FORMAT_MONO_16},
    {"RGB8", ARV_PIXEL_FORMAT_RGB_8_PACKED},     {"BayerRG8", ARV_PIXEL_FORMAT_BAYER_RG_8},
    {"BayerGR8", ARV_PIXEL_FORMAT_BAYER_GR_8},   {"BayerGB8", ARV_PIXEL_FORMAT_BAYER_GB_8},
    {"BayerBG8", ARV_PIXEL_FORMAT_BAYER_BG_8},
};

uint32_t pixelFormatValue(const std::string &name)
{
    for (const auto &f : kPixelFormats)
        if (name == f.name)
            return f.value;
    return 0;
}

uint32_t floatBits(float f)
{
    uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    return bits;
}

float bitsFloat(uint32_t bits)
{
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

int64_t nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

// The colour channel (0 B, 1 G, 2 R) that a Bayer sensor's pixel sees.
int bayerChannel(uint32_t format, int y, int x)
{
    const int cell = (y & 1) * 2 + (x & 1);
    static const int rg[4] = {2, 1, 1, 0}, gr[4] = {1, 2, 0, 1}, gb[4] = {1, 0, 2, 1}, bg[4] = {0, 1, 1, 2};
    switch (format) {
    case ARV_PIXEL_FORMAT_BAYER_RG_8: return rg[cell];
    case ARV_PIXEL_FORMAT_BAYER_GR_8: return gr[cell];
    case ARV_PIXEL_FORMAT_BAYER_GB_8: return gb[cell];
    default: return bg[cell];
    }
}

// The line's clock, the register poll and the fake camera's frame thread keep time with
// the line: on a loaded machine a late frame thread merges two triggers into one frame, as
// an overrun camera would. They take the real-time scheduler where permitted, as the
// station's capture threads do (same switch: GLUEBOX_REALTIME=0 leaves them as they are).
void raiseCurrentThread()
{
    thread_local bool done = false;
    if (done)
        return;
    done = true;
    const char *wanted = std::getenv("GLUEBOX_REALTIME");
    if (wanted && std::strcmp(wanted, "0") == 0)
        return;
    sched_param param{};
    param.sched_priority = 10;
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &param); // not permitted: stays as it is
}

} // namespace

GigeSimCamera::GigeSimCamera(Options options)
    : m_options(std::move(options))
{
}

GigeSimCamera::~GigeSimCamera()
{
    stop();
}

int GigeSimCamera::lineIndex(const std::string &name)
{
    if (name.size() != 5 || name.compare(0, 4, "Line") != 0 || name[4] < '0' || name[4] >= '0' + kLines)
        return -1;
    return name[4] - '0';
}

std::string GigeSimCamera::builtInXml()
{
    return kGigeSimCameraXml;
}

bool GigeSimCamera::start(std::string *error)
{
    auto fail = [error](const std::string &why) {
        if (error)
            *error = why;
        return false;
    };
    if (m_fake)
        return true;
    const Options &o = m_options;
    m_rejectLine = lineIndex(o.rejectLine);
    if (m_rejectLine < 1)
        return fail("the reject line must be one of Line1..Line4: " + o.rejectLine);
    if (o.width < 1 || o.height < 1 || o.width > int(kSensorSize) || o.height > int(kSensorSize))
        return fail("the picture must be 1x1 to 2048x2048");
    const uint32_t format = pixelFormatValue(o.pixelFormat);
    if (!format)
        return fail("unknown pixel format " + o.pixelFormat);
    if (o.shotsPerProduct < 1 || o.productsPerMinute < 0 || o.productsPerMinute > 6000)
        return fail("shots per product must be at least 1, products per minute 0 to 6000");
    if (!(o.packetLossRatio >= 0 && o.packetLossRatio < 1))
        return fail("the packet loss ratio must be in [0, 1)");
    if (o.userId.size() > 15)
        return fail("the user ID has at most 15 characters");

    // The fake camera reads its description from a file, once, as it starts.
    std::string xmlPath = o.genicamXml;
    if (xmlPath.empty()) {
        char name[] = "/tmp/gigesim-XXXXXX.xml";
        const int fd = mkstemps(name, 4);
        if (fd < 0)
            return fail("cannot write the GenICam description to /tmp");
        const std::string xml = builtInXml();
        const bool written = write(fd, xml.data(), xml.size()) == ssize_t(xml.size());
        close(fd);
        if (!written) {
            unlink(name);
            return fail("cannot write the GenICam description to /tmp");
        }
        xmlPath = name;
    }
    m_fake = arv_gv_fake_camera_new_full(o.address.c_str(), o.serial.c_str(), xmlPath.c_str());
    if (o.genicamXml.empty())
        unlink(xmlPath.c_str());
    if (!m_fake || !arv_gv_fake_camera_is_running(m_fake)) {
        if (m_fake)
            g_object_unref(m_fake);
        m_fake = nullptr;
        return fail("no GigE Vision camera could start on " + o.address);
    }
    m_camera = arv_gv_fake_camera_get_fake_camera(m_fake);
    // The fake camera drops this share of its stream packets itself, and does not answer
    // resend requests: each lost packet leaves its frame incomplete at the receiver.
    g_object_set(m_fake, "gvsp-lost-ratio", o.packetLossRatio, nullptr);
    arv_fake_camera_set_trigger_frequency(m_camera, o.triggerTickHz > 0 ? o.triggerTickHz : 100);

    auto writeString = [this](uint32_t address, size_t size, const std::string &text) {
        std::vector<char> bytes(size, 0);
        std::memcpy(bytes.data(), text.data(), std::min(text.size(), size - 1));
        arv_fake_camera_write_memory(m_camera, address, uint32_t(size), bytes.data());
    };
    writeString(kManufacturerName, 32, o.vendor);
    writeString(kModelName, 32, o.model);
    writeString(kUserDefinedName, 16, o.userId);
    writeWord(kWidth, uint32_t(o.width));
    writeWord(kHeight, uint32_t(o.height));
    writeWord(kPixelFormat, format);
    writeWord(kExposureTime, floatBits(5000.0f));
    writeWord(kGain, floatBits(0.0f));
    m_fakeTrigger[0] = 0;
    m_fakeTrigger[1] = 1;
    m_fakeTrigger[2] = 0;
    writeWord(kFakeTriggerMode, m_fakeTrigger[0]);
    writeWord(kFakeTriggerSource, m_fakeTrigger[1]);
    writeWord(kFakeTriggerActivation, m_fakeTrigger[2]);
    arv_fake_camera_set_fill_pattern(m_camera, &GigeSimCamera::fillPattern, this);
    m_wakeSocket = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_wakeSocket >= 0) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(3956); // GVCP
        if (inet_pton(AF_INET, o.address.c_str(), &to.sin_addr) != 1
            || connect(m_wakeSocket, reinterpret_cast<sockaddr *>(&to), sizeof to) != 0) {
            close(m_wakeSocket);
            m_wakeSocket = -1;
        }
    }

    {
        std::lock_guard<std::mutex> lock(m_stopMutex);
        m_stop = false;
    }
    m_ioStop = false;
    m_io = std::thread(&GigeSimCamera::runIo, this);
    if (o.productsPerMinute > 0)
        m_line = std::thread(&GigeSimCamera::runLine, this);
    return true;
}

void GigeSimCamera::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_stopMutex);
        m_stop = true;
    }
    m_wake.notify_all();
    if (m_line.joinable())
        m_line.join();
    m_ioStop = true;
    if (m_io.joinable())
        m_io.join();
    if (m_wakeSocket >= 0) {
        close(m_wakeSocket);
        m_wakeSocket = -1;
    }
    if (m_fake) {
        // Joins the camera's thread, the last caller of fill().
        g_object_unref(m_fake);
        m_fake = nullptr;
        m_camera = nullptr;
    }
}

GigeSimCamera::Counters GigeSimCamera::counters() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_counters;
}

std::vector<GigeSimCamera::ProductRecord> GigeSimCamera::takeJudged()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<ProductRecord> taken(m_judged.begin(), m_judged.end());
    m_judged.clear();
    return taken;
}

std::vector<GigeSimCamera::LineChange> GigeSimCamera::takeLineChanges()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<LineChange> taken(m_changes.begin(), m_changes.end());
    m_changes.clear();
    return taken;
}

template <typename T> void GigeSimCamera::keep(std::deque<T> &list, T item)
{
    if (list.size() >= kKeptRecords)
        list.pop_front(); // nobody reads them: a week's run must not fill the memory
    list.push_back(std::move(item));
}

// --- Frames (Aravis's camera thread) -----------------------------------------------------

void GigeSimCamera::fillPattern(_ArvBuffer *buffer, void *self, uint32_t exposureUs, uint32_t,
                                uint32_t pixelFormat)
{
    static_cast<GigeSimCamera *>(self)->fill(buffer, exposureUs, pixelFormat);
}

void GigeSimCamera::fill(_ArvBuffer *buffer, uint32_t, uint32_t pixelFormat)
{
    raiseCurrentThread(); // the fake camera's own thread, from its first frame on
    cv::Mat picture;
    uint64_t triggeredNs = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        Shot shot;
        if (m_triggered && !m_pending.empty()) {
            shot = m_pending.front();
            m_pending.pop_front();
            if (!m_pending.empty())
                writeWord(kFakeTriggerSoftware, 1); // the next one, at the thread's next tick
        }
        if (shot.valid) {
            // a queued shot
        } else if (m_triggered && m_lastShot.valid) {
            shot = m_lastShot; // a software trigger before any shot of its own
        } else if (!m_conveyor.empty()) {
            // Free running: whatever product stands in front of the camera.
            const InFlight &current = m_conveyor.back();
            shot.product = current.record.product;
            if (!current.product.frames.empty())
                shot.picture = current.product.frames.front();
            shot.valid = true;
        }
        if (shot.valid)
            for (auto it = m_conveyor.rbegin(); it != m_conveyor.rend(); ++it)
                if (it->record.product == shot.product) {
                    ++it->record.frames;
                    break;
                }
        ++m_counters.frames;
        picture = shot.picture;
        triggeredNs = shot.triggeredNs;
    }
    m_exposureEndNs = nowNs() + int64_t(double(m_exposureUs) * 1000.0);
    writePicture(buffer, picture, pixelFormat);
    if (triggeredNs)
        arv_buffer_set_timestamp(buffer, triggeredNs);
}

void GigeSimCamera::writePicture(_ArvBuffer *buffer, const cv::Mat &picture, uint32_t pixelFormat)
{
    size_t received = 0; // not set yet when the fake camera calls us
    auto *data = static_cast<uint8_t *>(const_cast<void *>(arv_buffer_get_data(buffer, &received)));
    // The fake camera has checked that the buffer holds a frame of this size.
    const int width = arv_buffer_get_image_width(buffer);
    const int height = arv_buffer_get_image_height(buffer);
    const int bytesPerPixel = std::max(1, int(ARV_PIXEL_FORMAT_BIT_PER_PIXEL(pixelFormat)) / 8);
    if (!data || width <= 0 || height <= 0)
        return;
    const size_t size = size_t(width) * size_t(height) * size_t(bytesPerPixel);
    std::memset(data, 0, size);
    // The picture's top left corner, cut to the frame: a pattern's code stays in place.
    const bool colour = !picture.empty() && picture.channels() == 3;
    const int rows = picture.empty() ? 0 : std::min(height, picture.rows);
    const int cols = picture.empty() ? 0 : std::min(width, picture.cols);
    for (int y = 0; y < rows; ++y) {
        const size_t rowStart = size_t(y) * size_t(width) * size_t(bytesPerPixel);
        if (rowStart + size_t(cols) * size_t(bytesPerPixel) > size)
            break;
        uint8_t *out = data + rowStart;
        const uint8_t *in = picture.ptr<uint8_t>(y);
        for (int x = 0; x < cols; ++x) {
            const uint8_t *bgr = in + (colour ? 3 * x : x);
            auto channel = [&](int c) { return colour ? bgr[c] : bgr[0]; };
            switch (pixelFormat) {
            case ARV_PIXEL_FORMAT_MONO_8:
                out[x] = colour ? uint8_t((bgr[0] * 29 + bgr[1] * 150 + bgr[2] * 77) >> 8) : bgr[0];
                break;
            case ARV_PIXEL_FORMAT_MONO_16: {
                const uint8_t v = colour ? uint8_t((bgr[0] * 29 + bgr[1] * 150 + bgr[2] * 77) >> 8) : bgr[0];
                out[2 * x] = 0; // little-endian, the 8 bits on top
                out[2 * x + 1] = v;
                break;
            }
            case ARV_PIXEL_FORMAT_RGB_8_PACKED:
                out[3 * x] = channel(2);
                out[3 * x + 1] = channel(1);
                out[3 * x + 2] = channel(0);
                break;
            default: // Bayer
                out[x] = channel(bayerChannel(pixelFormat, y, x));
                break;
            }
        }
    }
}

// --- The line (its own thread) -----------------------------------------------------------

bool GigeSimCamera::waitUntil(Clock::time_point t)
{
    std::unique_lock<std::mutex> lock(m_stopMutex);
    return !m_wake.wait_until(lock, t, [this] { return m_stop; });
}

void GigeSimCamera::runLine()
{
    // LineSimulator's timing: the window is open for 60 % of a product's period, the shots
    // fall in its first two thirds.
    const auto period = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(60.0 / m_options.productsPerMinute));
    const auto window = period * 6 / 10;
    const int shots = m_options.shotsPerProduct;
    raiseCurrentThread();
    FrameSource::Product next = makeProduct();
    auto t0 = Clock::now();
    for (;;) {
        const bool late = beginProduct(std::move(next));
        const Clock::time_point heldUntil =
            t0 + window / (3 * shots) + std::chrono::milliseconds(m_options.holdUpMs);
        for (int s = 0; s < shots; ++s) {
            const Clock::time_point due = t0 + window * (2 * s + 1) / (3 * shots);
            if (!waitUntil(late ? std::max(due, heldUntil) : due))
                return;
            shoot(s, due);
        }
        next = makeProduct(); // between windows: drawing the pictures must not delay a shot
        t0 += period;
        if (t0 < Clock::now())
            t0 = Clock::now(); // fell behind: no burst to catch up
        if (!waitUntil(t0))
            return;
    }
}

FrameSource::Product GigeSimCamera::makeProduct()
{
    const int shots = m_options.shotsPerProduct;
    FrameSource::Product product;
    if (m_options.source)
        product = m_options.source->next(0, shots);
    if (product.frames.empty())
        product.frames.assign(size_t(shots), cv::Mat(m_options.height, m_options.width, CV_8UC1, cv::Scalar(128)));
    return product;
}

bool GigeSimCamera::beginProduct(FrameSource::Product product)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    // The product that stood at the ejector during the last period has gone past it.
    while (m_conveyor.size() > kWindowsToEjector) {
        const ProductRecord &r = m_conveyor.front().record;
        ++m_counters.judged;
        if (r.ng && r.ejected())
            ++m_counters.correctEjections;
        else if (r.ng)
            ++m_counters.missedEjections;
        else if (r.ejected())
            ++m_counters.wrongEjections;
        keep(m_judged, r);
        m_conveyor.pop_front();
    }
    InFlight next;
    next.record.product = m_nextProduct++;
    next.record.ng = product.ng;
    next.record.label = product.label;
    // A bad box will stand at the ejector while this product is shot.
    const bool heldUp =
        m_options.holdUpMs > 0 && m_conveyor.size() == kWindowsToEjector && m_conveyor.front().record.ng;
    next.product = std::move(product);
    m_conveyor.push_back(std::move(next));
    ++m_counters.products;
    if (m_conveyor.back().record.ng)
        ++m_counters.ngProducts;
    return heldUp;
}

void GigeSimCamera::shoot(int s, Clock::time_point due)
{
    const auto wallNs = [](Clock::time_point t) {
        const auto late = Clock::now() - t;
        return uint64_t(std::chrono::duration_cast<std::chrono::nanoseconds>(
                            std::chrono::system_clock::now().time_since_epoch() - late)
                            .count());
    };
    Shot shot;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        InFlight &current = m_conveyor.back();
        const auto &frames = current.product.frames;
        shot.product = current.record.product;
        shot.shot = s;
        shot.picture = frames[std::min<size_t>(size_t(s), frames.size() - 1)];
        shot.valid = true;
        ++current.record.shots;
        ++m_counters.shots;
        m_lastShot = shot;
    }
    const bool onLine0 = m_triggered && m_triggerSource == 0;
    m_line0High = true;
    if (onLine0 && m_triggerActivation == 0) {
        shot.triggeredNs = wallNs(due);
        fire(shot);
    }
    const auto fallsAt = Clock::now() + kLinePulse;
    std::this_thread::sleep_until(fallsAt); // short: the stop waits for it
    m_line0High = false;
    if (onLine0 && m_triggerActivation == 1) {
        shot.triggeredNs = wallNs(due + kLinePulse);
        fire(shot);
    }
}

void GigeSimCamera::fire(const Shot &shot)
{
    // Not acquiring, a trigger left standing would give a stale frame as soon as the
    // camera starts; just after the start, the fake camera's thread still sleeps its idle
    // period and would merge the triggers of that time into one frame.
    if (nowNs() < m_armedAtNs)
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_pending.empty())
        ++m_counters.triggerOverruns; // the last trigger has not given its frame yet
    if (m_pending.size() >= kTriggerQueue)
        return; // the camera's trigger memory is full: this one is lost
    m_pending.push_back(shot);
    if (!shot.triggeredNs)
        m_pending.back().triggeredNs = uint64_t(
            std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
                .count());
    // Under the lock: the register stands exactly while a shot waits, so no trigger of an
    // empty queue gives a stray frame.
    writeWord(kFakeTriggerSoftware, 1);
    wakeCamera();
}

void GigeSimCamera::wakeCamera()
{
    // The fake camera's thread now and then sleeps its whole idle period (100 ms) in its
    // wait for control packets while a trigger stands: a packet ends that wait, and its
    // next look at the clock sends the frame. A register read changes nothing; its answer
    // is never read (the socket's queue fills and the rest are dropped).
    static const uint8_t readRegister[12] = {0x42, 0x00, 0x00, 0x80, 0x00, 0x04, 0x00, 0x01, 0, 0, 0, 0};
    if (m_wakeSocket >= 0)
        send(m_wakeSocket, readRegister, sizeof readRegister, MSG_DONTWAIT);
}

// --- Registers (the I/O thread) ----------------------------------------------------------

void GigeSimCamera::readBlock(uint32_t address, uint32_t *words, int count)
{
    arv_fake_camera_read_memory(m_camera, address, uint32_t(count * 4), words);
    for (int i = 0; i < count; ++i)
        words[i] = GUINT32_FROM_BE(words[i]);
}

void GigeSimCamera::writeWord(uint32_t address, uint32_t value)
{
    arv_fake_camera_write_register(m_camera, address, value);
}

void GigeSimCamera::runIo()
{
    raiseCurrentThread();
    auto next = Clock::now();
    while (!m_ioStop) {
        pollOnce();
        next += kPollPeriod;
        const auto now = Clock::now();
        if (next < now - std::chrono::milliseconds(5))
            next = now; // overslept: no burst of polls
        std::this_thread::sleep_until(next);
    }
}

void GigeSimCamera::pollOnce()
{
    // The fake camera's thread notices an acquisition start within its idle period (100 ms).
    uint32_t acquisition = 0;
    readBlock(kAcquisition, &acquisition, 1);
    if (!acquisition && m_armedAtNs != std::numeric_limits<int64_t>::max()) {
        m_armedAtNs = std::numeric_limits<int64_t>::max();
        // Stopped: triggers still waiting would come out as stale frames at the next start.
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pending.clear();
        writeWord(kFakeTriggerSoftware, 0);
    } else if (m_armedAtNs == std::numeric_limits<int64_t>::max())
        m_armedAtNs = nowNs() + std::chrono::duration_cast<std::chrono::nanoseconds>(kArming).count();

    uint32_t analog[2];
    readBlock(kExposureTime, analog, 2);
    m_exposureUs = bitsFloat(analog[0]);

    // The trigger: FrameStart when it is on, else FrameBurstStart (a burst of one frame).
    uint32_t trigger[kTriggerSelectors * 8];
    readBlock(kTriggerBase, trigger, kTriggerSelectors * 8);
    int selected = -1;
    for (int s = 0; s < kTriggerSelectors && selected < 0; ++s)
        if (trigger[8 * s] == 1)
            selected = s;
    const bool triggered = selected >= 0;
    const int source = triggered ? int(trigger[8 * selected + 1]) : 0;
    m_triggerSource = source;
    m_triggerActivation = triggered ? int(trigger[8 * selected + 2]) : 0;
    m_triggered = triggered;
    const uint32_t fake[3] = {triggered ? 1u : 0u, 1u, 0u};
    const uint32_t fakeAddress[3] = {kFakeTriggerMode, kFakeTriggerSource, kFakeTriggerActivation};
    for (int i = 0; i < 3; ++i)
        if (m_fakeTrigger[i] != fake[i]) {
            m_fakeTrigger[i] = fake[i];
            writeWord(fakeAddress[i], fake[i]);
        }
    for (int s = 0; s < kTriggerSelectors; ++s) {
        if (!trigger[8 * s + 3])
            continue;
        writeWord(kTriggerBase + kTriggerStride * uint32_t(s) + 12, 0);
        if (s != selected || source != 1)
            continue;
        Shot shot;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            ++m_counters.softwareTriggers;
            if (m_lastShot.valid) {
                shot = m_lastShot;
            } else if (!m_conveyor.empty()) {
                shot.product = m_conveyor.back().record.product;
                shot.picture = m_conveyor.back().product.frames.front();
                shot.valid = true;
            }
        }
        fire(shot);
    }

    uint32_t lines[kLines * 8];
    readBlock(kLineBase, lines, kLines * 8);
    uint32_t userOutputs[kUserOutputs];
    readBlock(kUserOutputBase, userOutputs, kUserOutputs);
    const bool exposing = nowNs() < m_exposureEndNs;
    for (int l = 0; l < kLines; ++l) {
        const uint32_t mode = lines[8 * l], source = lines[8 * l + 1];
        const bool inverted = lines[8 * l + 2] != 0;
        bool output = false;
        bool status = false;
        if (mode == 1) {
            bool level = false;
            if (source >= SourceUserOutput0 && source < SourceUserOutput0 + kUserOutputs)
                level = userOutputs[source - SourceUserOutput0] != 0;
            else if (source == SourceExposureActive)
                level = exposing;
            output = level != inverted;
            status = output;
        } else {
            status = (l == 0 && m_line0High) != inverted;
        }
        if (output != m_outputLevel[l]) {
            m_outputLevel[l] = output;
            onOutputChange(l, output);
        }
        if (uint32_t(status) != m_lineStatus[l]) {
            m_lineStatus[l] = status;
            writeWord(kLineBase + kLineStride * uint32_t(l) + 12, status);
        }
    }
}

void GigeSimCamera::onOutputChange(int line, bool level)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    LineChange change;
    change.time = std::chrono::system_clock::now();
    change.steadyTime = std::chrono::steady_clock::now();
    change.line = line;
    change.level = level;
    const bool standing = m_conveyor.size() == kWindowsToEjector + 1;
    if (standing)
        change.atEjector = int64_t(m_conveyor.front().record.product);
    keep(m_changes, change);
    if (line != m_rejectLine || !level)
        return;
    ++m_counters.rejectPulses;
    if (standing) {
        ++m_conveyor.front().record.pulses;
    } else {
        ++m_counters.wrongEjections;
        ++m_counters.strayPulses;
    }
}
