#pragma once

#include "FrameSource.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct _ArvBuffer;
struct _ArvFakeCamera;
struct _ArvGvFakeCamera;

// A GigE Vision camera on a loopback address, served by Aravis's fake GigE Vision camera
// with a GenICam description of our own (GigeSimCamera.xml): the station reaches it over a
// real GVCP/GVSP link, as it would a line camera. The camera carries its own packing line:
// a product clock at the given rate, N trigger pulses on Line0 inside each product's
// window, the product's pictures in the frames, and the ejector two windows downstream,
// which it judges from the levels of its own output lines.
//
// Threads: Aravis's camera thread (control packets, frames: it calls fill()), the line's
// thread (product clock, Line0 pulses) and the I/O thread (polls the registers the
// station writes every millisecond: trigger settings, software triggers, output lines).
// Only ever start it inside scripts/in-netns.sh: GigE Vision discovery answers broadcasts.
class GigeSimCamera
{
public:
    static constexpr int kLines = 5;       // Line0 (trigger input) .. Line4
    static constexpr int kUserOutputs = 4; // UserOutput0 .. UserOutput3

    struct Options
    {
        std::string address = "127.0.0.2";
        std::string serial = "GV02";
        std::string vendor = "Gluebox"; // the bootstrap's manufacturer name (DeviceVendorName)
        std::string model = "GigeSim";  // DeviceModelName
        std::string userId;             // DeviceUserID (at most 15 characters)
        int width = 728;
        int height = 544;
        std::string pixelFormat = "Mono8"; // Mono8, Mono16, RGB8, BayerRG8, BayerGR8, BayerGB8, BayerBG8
        double productsPerMinute = 60;      // 0: no line (no products, no Line0 pulses)
        int shotsPerProduct = 3;
        std::shared_ptr<FrameSource> source; // null: grey frames, every product good
        std::string rejectLine = "Line1";    // a pulse on it ejects the product at the ejector
        double packetLossRatio = 0;          // share of stream packets never sent
        // The frames of each product that comes while a bad one stands at the ejector leave
        // this long after its first shot, all at once, stamped with their shots' times:
        // frames held up on the way at the worst moment, when a reject pulse is due at the
        // product's rising edge (0: never).
        int holdUpMs = 0;
        // The fake camera wakes at this rate to send a triggered frame (it spins through the
        // last millisecond of each period: about 1 % of a core per 10 Hz).
        double triggerTickHz = 100;
        std::string genicamXml; // a description file of one's own; empty: the built-in one
    };

    // One product, once it has passed the ejector.
    struct ProductRecord
    {
        uint64_t product = 0; // 0 for the line's first product (a pattern source's number)
        bool ng = false;
        int shots = 0;  // Line0 pulses in its window
        int frames = 0; // frames the camera sent with its pictures (packets lost on the way not known)
        int pulses = 0; // reject pulses while it stood at the ejector
        bool ejected() const { return pulses > 0; }
        std::string label;
    };

    // A change of an output line's level (a line is low while it is not an output).
    struct LineChange
    {
        std::chrono::system_clock::time_point time;
        // The same moment on the steady clock, which the station's own times are on: the
        // wall clock may be slewed while a test runs (seen: 5 ms a second), and one offset
        // taken at the end would then put early changes by a product or more.
        std::chrono::steady_clock::time_point steadyTime;
        int line = 0;
        bool level = false;
        int64_t atEjector = -1; // the product standing at the ejector then, -1: none
    };

    struct Counters
    {
        uint64_t products = 0;         // products that entered the window
        uint64_t ngProducts = 0;       // of those, with a defect
        uint64_t judged = 0;           // products that have passed the ejector
        uint64_t correctEjections = 0; // NG and ejected
        uint64_t missedEjections = 0;  // NG and not ejected
        uint64_t wrongEjections = 0;   // good and ejected, or a pulse with no product there
        uint64_t strayPulses = 0;      // of the wrong ejections, pulses with no product there
        uint64_t rejectPulses = 0;     // rising edges of the reject line
        uint64_t shots = 0;            // Line0 pulses
        uint64_t frames = 0;           // frames sent
        uint64_t softwareTriggers = 0; // TriggerSoftware commands that fired a frame
        uint64_t triggerOverruns = 0;  // triggers raised before the last one gave its frame
    };

    explicit GigeSimCamera(Options options);
    ~GigeSimCamera();
    GigeSimCamera(const GigeSimCamera &) = delete;
    GigeSimCamera &operator=(const GigeSimCamera &) = delete;

    // Brings the camera up on its address and starts the line. False with a reason when
    // the options are wrong or the address has no interface.
    bool start(std::string *error = nullptr);
    // Stops the line (the products on it stay unjudged) and takes the camera off the link.
    void stop();
    bool isRunning() const { return m_fake != nullptr; }
    const Options &options() const { return m_options; }

    Counters counters() const;
    // Records not taken yet, oldest first (each list keeps at most 100000; older ones go).
    std::vector<ProductRecord> takeJudged();
    std::vector<LineChange> takeLineChanges();

    static int lineIndex(const std::string &name); // "Line2" -> 2, -1 if not a line
    // The built-in GenICam description.
    static std::string builtInXml();

private:
    struct Shot
    {
        uint64_t product = 0;
        int shot = 0;
        cv::Mat picture;
        bool valid = false;
        uint64_t triggeredNs = 0; // wall clock: the frame's timestamp, as a camera stamps its exposure
    };
    struct InFlight
    {
        ProductRecord record;
        FrameSource::Product product;
    };
    static void fillPattern(_ArvBuffer *buffer, void *self, uint32_t exposureUs, uint32_t gain,
                            uint32_t pixelFormat);
    void fill(_ArvBuffer *buffer, uint32_t exposureUs, uint32_t pixelFormat);
    void writePicture(_ArvBuffer *buffer, const cv::Mat &picture, uint32_t pixelFormat);

    void runLine();
    FrameSource::Product makeProduct();
    // Puts the next product on the conveyor; whether its frames are held up.
    bool beginProduct(FrameSource::Product product);
    // The shot due at `due`: its frame carries that time, as a camera triggered by the
    // machine stamps the exposure, however late this thread got to it.
    void shoot(int shot, std::chrono::steady_clock::time_point due);
    void fire(const Shot &shot);
    bool waitUntil(std::chrono::steady_clock::time_point t); // false: stopping

    void wakeCamera();
    void runIo();
    void pollOnce();
    void readBlock(uint32_t address, uint32_t *words, int count);
    void writeWord(uint32_t address, uint32_t value);
    void onOutputChange(int line, bool level);
    template <typename T> static void keep(std::deque<T> &list, T item);

    const Options m_options;
    int m_rejectLine = 1;
    _ArvGvFakeCamera *m_fake = nullptr;
    _ArvFakeCamera *m_camera = nullptr; // owned by m_fake

    // Set by the I/O thread from the station's registers, read by the others.
    std::atomic<bool> m_triggered{false};     // the selected trigger is on
    std::atomic<int> m_triggerSource{0};      // 0 Line0, 1 Software
    std::atomic<int> m_triggerActivation{0};  // 0 rising edge, 1 falling edge
    std::atomic<bool> m_line0High{false};     // the line's trigger pulse
    std::atomic<float> m_exposureUs{0};       // ExposureTime
    std::atomic<int64_t> m_exposureEndNs{0};  // steady clock: ExposureActive until then
    std::atomic<int64_t> m_armedAtNs{INT64_MAX}; // steady clock: triggers fire from then on
    bool m_outputLevel[kLines] = {};          // the I/O thread's
    uint32_t m_lineStatus[kLines] = {};       // the I/O thread's: what LineStatus shows
    uint32_t m_fakeTrigger[3] = {};           // the I/O thread's: written to 0x300..0x308

    // Guards everything below. Held into Aravis only for the software trigger register, which
    // follows m_pending (the fake camera's register writes are plain memory).
    mutable std::mutex m_mutex;
    std::deque<InFlight> m_conveyor; // newest at the back, the one at the ejector in front when full
    uint64_t m_nextProduct = 0;
    // Raised, waiting for the fake camera's frames. The fake camera answers one software
    // trigger per tick of its thread; a camera keeps its triggers in hardware, so a late
    // thread here delays frames instead of losing them.
    std::deque<Shot> m_pending;
    Shot m_lastShot; // the latest Line0 shot (a software trigger shows its picture)
    Counters m_counters;
    std::deque<ProductRecord> m_judged;
    std::deque<LineChange> m_changes;

    std::mutex m_stopMutex; // guards m_stop
    std::condition_variable m_wake;
    bool m_stop = false;
    std::atomic<bool> m_ioStop{false};
    std::thread m_line;
    std::thread m_io;
    int m_wakeSocket = -1; // sends the fake camera's control port a read request
};
