#pragma once

#include "DelayStats.h"
#include "FrameSource.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class SimCamera;

// The packing machine as the cameras see it. For each product the product-window line of
// every camera rises, the frame-trigger line pulses once per shot (exposing the product's
// next picture on a camera in triggered mode), and the window falls. It also watches the
// reject outputs: a product stands at the ejector during the window two products after
// its own, and a reject pulse in that window ejects it.
//
// Stepped mode: the caller drives each edge (beginProduct, shoot, endProduct) and waits
// with settle() for the cameras' callback threads. Real-time mode: start() runs the
// line on a thread of its own at a given rate until stop().
class LineSimulator
{
public:
    struct Counters
    {
        int products = 0;         // products that entered the camera's window
        int ngProducts = 0;       // of those, with a defect
        int judged = 0;           // products whose ejection window has passed
        int correctEjections = 0; // NG and ejected
        int missedEjections = 0;  // NG and not ejected
        int wrongEjections = 0;   // good but ejected, or a pulse with no product there
        // Of the products judged while the station is watched (watchStation):
        int judgedWrong = 0; // paired right and judged in time, but the verdict differs from the truth
        int pairedWrong = 0; // ejected, or not, against what the station decided for this product
    };

    // What the station made of one of its numbered products.
    struct StationOutcome
    {
        bool known = false;      // the station reached the product at the ejector
        bool judged = false;     // by its own verdict, in time
        bool good = false;       // that verdict
        bool rejected = false;   // the station fired the reject output for it
        bool cutWrongly = false; // its frames did not make one product
    };
    struct StationView
    {
        // The number the station gave the last window it closed. Asked on the camera's
        // callback thread right after a falling edge has reached the station's callback,
        // which numbers the window there: an unchanged number means the station did not
        // number that window.
        std::function<uint64_t()> lastProduct;
        std::function<StationOutcome(uint64_t product)> outcome;
    };
    // From now on the camera's products carry the station's numbers, and each one that
    // reaches the ejector counts into judgedWrong or pairedWrong. The comparison runs on the
    // camera's callback thread after the edges before it, so that the station's outcome for
    // the product, recorded on that thread, is there. Call before start().
    void watchStation(int camera, StationView view);

    // Cameras are not owned and must outlive the simulator.
    LineSimulator(std::vector<SimCamera *> cameras, std::shared_ptr<FrameSource> source,
                  int shotsPerProduct);
    ~LineSimulator();
    LineSimulator(const LineSimulator &) = delete;
    LineSimulator &operator=(const LineSimulator &) = delete;

    int cameraCount() const { return static_cast<int>(m_lanes.size()); }
    int shotsPerProduct() const { return m_shots; }

    void beginProduct();
    void shoot();
    void endProduct();
    void runProduct(); // begin, one shot per configured shot, end
    // Waits until every camera's callback thread has handled the edges sent so far.
    bool settle(int timeoutMs);
    // Judges the product standing at the ejector now (call after settle()).
    void finish();

    // Takes the products still between the cameras and the ejector off the line without
    // judging them (the line was stopped and is cleared).
    void clearConveyor();

    void start(double productsPerMinute);
    // Returns once the product in the window (if any) has been shot and its window closed.
    void stop();
    bool isRunning() const;

    Counters counters(int camera) const;

    // Each judged product of a camera, in line order, while history is kept (off by
    // default: a week of production would fill the memory).
    struct JudgedProduct
    {
        bool ng = false;
        bool ejected = false;
    };
    void setKeepHistory(bool keep);
    std::vector<JudgedProduct> history(int camera) const;

    // Where the line's own time goes: how late its thread woke for an edge or a shot, and
    // how long the frame source took for a product's pictures (on the line's thread).
    const DelayStats &clockLateness() const { return m_clockLateness; }
    const DelayStats &sourceTime() const { return m_sourceTime; }
    void clearTimings()
    {
        m_clockLateness.clear();
        m_sourceTime.clear();
    }
    // Was the last product that entered camera's window an NG one?
    bool currentProductIsNg(int camera) const;

private:
    struct InFlight
    {
        bool ng = false;
        int pulses = 0;
        uint64_t ordinal = 0; // the lane's count of products when this one entered
    };
    struct Numbered
    {
        uint64_t ordinal;
        uint64_t number; // 0: the station did not number it
    };
    struct Lane
    {
        SimCamera *camera = nullptr;
        std::string rejectLine;
        FrameSource::Product product;
        int shot = 0;
        std::deque<InFlight> conveyor; // newest at the back, the one at the ejector in front
        Counters counters;
        std::vector<JudgedProduct> history;
        uint64_t ordinal = 0;
        // Watching the station: the numbers of the products whose windows closed and that
        // have not reached the ejector yet (a few), and the station's last number seen.
        std::shared_ptr<const StationView> station;
        std::deque<Numbered> numbers;
        uint64_t lastNumber = 0;
    };

    void judge(size_t lane, const InFlight &p);
    // On the camera's callback thread.
    void numberClosedWindow(size_t lane, uint64_t ordinal, const StationView &station);
    void compareWithStation(size_t lane, const InFlight &p, bool ejected, const StationView &station);
    void onPulse(size_t lane, const std::string &line);
    void run(double productsPerMinute);

    std::shared_ptr<FrameSource> m_source;
    const int m_shots;
    mutable std::mutex m_mutex; // guards m_lanes' contents and m_source
    std::vector<Lane> m_lanes;
    bool m_keepHistory = false;
    DelayStats m_clockLateness;
    DelayStats m_sourceTime;

    std::mutex m_runMutex; // guards m_stop
    std::condition_variable m_runWake;
    bool m_stop = false;
    std::thread m_thread;
};
