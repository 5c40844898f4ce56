#pragma once

#include "EdgeLateness.h"
#include "ProductGrouper.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// One GenICam camera (GigE Vision or USB3 Vision) through Aravis: its features by name,
// its stream, and the product windows made out of its frames (ProductGrouper), since
// Aravis carries no line events. Aravis's types stay in the source: its header does not
// mix with Qt's keywords.
//
// Threads: features from any one thread at a time (Aravis serialises the control
// channel); the stream is read by a thread of this object's own, which hands whole
// products' frames to nextFrame() and calls the edge callback; the lost callback comes
// from Aravis's heartbeat thread.
class AravisCamera
{
public:
    struct Info
    {
        std::string id;       // Aravis's device id, for open()
        std::string vendor;   // the maker's name, as the device says it
        std::string model;
        std::string serial;
        std::string address;  // IP address, or USB bus position
        std::string protocol; // "GigEVision" or "USB3Vision"
    };
    struct Frame
    {
        std::vector<unsigned char> data; // rows of width bytes (Mono8), or as the pixel format says
        int width = 0;
        int height = 0;
        uint32_t pixelFormat = 0; // the PFNC code
        uint64_t timeNs = 0;
    };
    struct Counters
    {
        uint64_t frames = 0;     // whole frames received
        uint64_t incomplete = 0; // frames that came with packets missing, or broken
        uint64_t products = 0;   // product windows opened
        uint64_t cutShort = 0;   // products closed without all their frames whole
        // Rising edges whose product began over half a product period before its opening
        // frame was handled, against the quickest recent ones: a reject pulse then would
        // hit the next box.
        uint64_t lateEdges = 0;
        uint64_t heldPulses = 0; // reject pulses not given for that reason
    };
    // rising: a product window opened (its first frame came); else it closed, after its
    // frames were handed over (when it had them all). On the stream thread.
    using EdgeCallback = std::function<void(bool rising, uint64_t timeNs)>;

    // Refreshes Aravis's device list (GigE Vision discovery broadcasts on every
    // interface) and returns it.
    static std::vector<Info> list();
    // Null, with why, when the device cannot be opened (busy, gone, not answering).
    static std::unique_ptr<AravisCamera> open(const Info &info, std::string *error);

    // Stops the stream; a camera whose control was lost is released on a thread of its
    // own, since Aravis may wait seconds on a dead device.
    ~AravisCamera();
    AravisCamera(const AravisCamera &) = delete;
    AravisCamera &operator=(const AravisCamera &) = delete;

    const Info &info() const { return m_info; }
    bool isGigE() const;

    // Feature access by name; false with the reason in lastError() when refused.
    bool setInteger(const char *name, int64_t value);
    bool getInteger(const char *name, int64_t &value);
    bool setFloat(const char *name, double value);
    bool setBoolean(const char *name, bool value);
    // A string feature, or an enumeration by its entry's name.
    bool setString(const char *name, const char *value);
    bool getString(const char *name, std::string &value);
    bool execute(const char *command);
    // True, and counted, for a reject pulse asked for in the callback of a rising edge
    // that came over half a product late: by then the box it was meant for has passed the
    // ejector, and the pulse would throw out the next one. The caller does not pulse.
    bool holdPulse();
    bool isAvailable(const char *name);
    std::string lastError() const;
    // Held for a selector and the value it selects, written from threads that may
    // interleave (a reject pulse and its clearing); each call above holds it too.
    std::unique_lock<std::recursive_mutex> lockFeatures() { return std::unique_lock<std::recursive_mutex>(m_featureMutex); }

    // GigE: finds the largest packet the path carries and sets it; 0 when it can't.
    int autoPacketSize();

    // Frames per product on the line trigger; 0 or less: every frame stands alone, as
    // in free run. Takes effect at the stream thread's next frame, also while grabbing.
    void setShotsPerProduct(int shots);
    void setEdgeCallback(EdgeCallback callback);
    void setLostCallback(std::function<void()> callback);
    bool lost() const { return m_lost; }

    bool startGrabbing();
    void stopGrabbing();
    bool grabbing() const { return m_grabbing; }
    // Waits up to timeoutMs for the next frame handed over; false on time-out.
    bool nextFrame(Frame &frame, int timeoutMs);
    Counters counters() const;

private:
    AravisCamera() = default;
    void streamLoop();
    // openLate: an Open among the steps came over half a product late (noteEdge).
    void handleSteps(const std::vector<ProductGrouper::Step> &steps, uint64_t timeNs, bool openLate = false);
    // A rising edge's opening frame, taken at frameNs: true, counted and said when the
    // edge came over half a product late.
    bool noteEdge(uint64_t frameNs);
    static void controlLost(void *device, void *self);

    Info m_info;
    void *m_camera = nullptr; // ArvCamera
    void *m_stream = nullptr; // ArvStream
    std::recursive_mutex m_featureMutex; // Aravis's feature tree is not for two threads at once
    mutable std::mutex m_errorMutex;
    std::string m_error;

    std::atomic<bool> m_lost{false};
    std::atomic<bool> m_grabbing{false};
    std::atomic<bool> m_stop{false};
    std::thread m_thread;

    std::mutex m_callbackMutex; // guards the callbacks against their replacement
    EdgeCallback m_edge;
    std::function<void()> m_lostCallback;

    // The stream thread's own: the open product's frames, not yet whole.
    std::vector<Frame> m_held;
    std::unique_ptr<ProductGrouper> m_grouper; // null: frames stand alone
    bool m_delivered = false; // the open product's frames went
    EdgeLateness m_lateness;    // the stream thread only
    bool m_lateSaid = false;
    std::atomic<bool> m_inLateEdge{false}; // in the callback of a late rising edge
    uint64_t m_lastFed = 0;     // time of the last frame given to the grouper
    uint64_t m_lastArrival = 0; // the host's time when it came
    std::atomic<int> m_shots{0};
    int m_grouperShots = 0; // what m_grouper was made for (stream thread)

    mutable std::mutex m_mutex; // guards what follows
    std::condition_variable m_frameReady;
    std::condition_variable m_frameTaken;
    std::deque<Frame> m_ready; // handed over, not yet taken by nextFrame()
    bool m_consumerWaiting = false; // the grab loop is in nextFrame(), done with the last frame
    Counters m_counters;
};
