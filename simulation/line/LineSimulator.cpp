#include "LineSimulator.h"

#include "CapturePriority.h"
#include "SimCamera.h"

#include <chrono>

namespace {
constexpr size_t kWindowsToEjector = 2; // the ejector sits two product windows downstream
// Numbers of closed windows kept for their products: a few are between the camera and the
// ejector; the rest belong to products taken off the line unjudged.
constexpr size_t kKeptNumbers = 64;
}

LineSimulator::LineSimulator(std::vector<SimCamera *> cameras, std::shared_ptr<FrameSource> source,
                             int shotsPerProduct)
    : m_source(std::move(source))
    , m_shots(shotsPerProduct < 1 ? 1 : shotsPerProduct)
{
    m_lanes.resize(cameras.size());
    for (size_t i = 0; i < cameras.size(); ++i) {
        Lane &lane = m_lanes[i];
        lane.camera = cameras[i];
        lane.rejectLine = SimCamera::rolesOf(cameras[i]->vendor()).rejectOutput;
        lane.camera->setPulseListener([this, i](const std::string &line) { onPulse(i, line); });
        // Free-running cameras see whatever product stands in front of them.
        lane.camera->setFreeRunProvider([this, i] {
            std::lock_guard<std::mutex> lock(m_mutex);
            const auto &frames = m_lanes[i].product.frames;
            return frames.empty() ? cv::Mat() : frames.front().clone();
        });
    }
}

LineSimulator::~LineSimulator()
{
    stop();
    for (Lane &lane : m_lanes) {
        lane.camera->setPulseListener(nullptr);
        lane.camera->setFreeRunProvider(nullptr);
    }
    // Tasks posted for the station's numbers still point at this line.
    for (Lane &lane : m_lanes)
        lane.camera->waitIdle(2000);
}

void LineSimulator::judge(size_t index, const InFlight &p)
{
    Lane &lane = m_lanes[index];
    const bool ejected = p.pulses > 0;
    ++lane.counters.judged;
    if (m_keepHistory)
        lane.history.push_back({p.ng, ejected});
    if (p.ng && ejected)
        ++lane.counters.correctEjections;
    else if (p.ng)
        ++lane.counters.missedEjections;
    else if (ejected)
        ++lane.counters.wrongEjections;
    if (lane.station)
        lane.camera->post([this, index, p, ejected, station = lane.station] {
            compareWithStation(index, p, ejected, *station);
        });
}

void LineSimulator::watchStation(int camera, StationView view)
{
    if (camera < 0 || camera >= static_cast<int>(m_lanes.size()))
        return;
    const uint64_t last = view.lastProduct ? view.lastProduct() : 0;
    std::lock_guard<std::mutex> lock(m_mutex);
    Lane &lane = m_lanes[camera];
    lane.station = view.lastProduct && view.outcome ? std::make_shared<const StationView>(std::move(view)) : nullptr;
    lane.numbers.clear();
    lane.lastNumber = last;
}

void LineSimulator::numberClosedWindow(size_t index, uint64_t ordinal, const StationView &station)
{
    const uint64_t number = station.lastProduct();
    std::lock_guard<std::mutex> lock(m_mutex);
    Lane &lane = m_lanes[index];
    const bool numbered = number > lane.lastNumber;
    if (numbered)
        lane.lastNumber = number;
    lane.numbers.push_back({ordinal, numbered ? number : 0});
    if (lane.numbers.size() > kKeptNumbers)
        lane.numbers.pop_front();
}

void LineSimulator::compareWithStation(size_t index, const InFlight &p, bool ejected, const StationView &station)
{
    uint64_t number = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::deque<Numbered> &numbers = m_lanes[index].numbers;
        while (!numbers.empty() && numbers.front().ordinal < p.ordinal)
            numbers.pop_front(); // taken off the line unjudged
        if (!numbers.empty() && numbers.front().ordinal == p.ordinal) {
            number = numbers.front().number;
            numbers.pop_front();
        }
    }
    // A product the station never numbered (its window never closed, or the station did
    // not see it close) has no decision that the ejector could have followed.
    const StationOutcome o = number ? station.outcome(number) : StationOutcome();
    std::lock_guard<std::mutex> lock(m_mutex);
    Counters &c = m_lanes[index].counters;
    if (!o.known || o.rejected != ejected)
        ++c.pairedWrong;
    else if (o.judged && !o.cutWrongly && o.good == p.ng)
        ++c.judgedWrong;
}

void LineSimulator::onPulse(size_t index, const std::string &line)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Lane &lane = m_lanes[index];
    if (line != lane.rejectLine)
        return; // the good-product output of some cameras ejects nothing
    if (lane.conveyor.size() == kWindowsToEjector + 1)
        ++lane.conveyor.front().pulses;
    else
        ++lane.counters.wrongEjections;
}

void LineSimulator::beginProduct()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (size_t i = 0; i < m_lanes.size(); ++i) {
        Lane &lane = m_lanes[i];
        // The product that stood at the ejector during the last window has gone past it.
        while (lane.conveyor.size() > kWindowsToEjector) {
            judge(i, lane.conveyor.front());
            lane.conveyor.pop_front();
        }
        const auto t0 = std::chrono::steady_clock::now();
        lane.product = m_source ? m_source->next(static_cast<int>(i), m_shots) : FrameSource::Product();
        m_sourceTime.add(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
        lane.shot = 0;
        lane.conveyor.push_back({lane.product.ng, 0, ++lane.ordinal});
        ++lane.counters.products;
        if (lane.product.ng)
            ++lane.counters.ngProducts;
    }
    lock.unlock();
    for (Lane &lane : m_lanes)
        lane.camera->windowEdge(true);
}

void LineSimulator::shoot()
{
    std::vector<std::pair<SimCamera *, cv::Mat>> exposures;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (Lane &lane : m_lanes) {
            const auto &frames = lane.product.frames;
            cv::Mat frame = frames.empty() ? cv::Mat()
                                           : frames[std::min<size_t>(lane.shot, frames.size() - 1)];
            ++lane.shot;
            exposures.emplace_back(lane.camera, frame);
        }
    }
    for (auto &e : exposures)
        e.first->triggerPulse(e.second);
}

void LineSimulator::endProduct()
{
    for (size_t i = 0; i < m_lanes.size(); ++i) {
        Lane &lane = m_lanes[i];
        lane.camera->windowEdge(false);
        std::shared_ptr<const StationView> station;
        uint64_t ordinal = 0;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            station = lane.station;
            ordinal = lane.ordinal;
        }
        // Right after the station's callback has handled the edge, and numbered the window.
        if (station)
            lane.camera->post([this, i, ordinal, station] { numberClosedWindow(i, ordinal, *station); });
    }
}

void LineSimulator::runProduct()
{
    beginProduct();
    for (int s = 0; s < m_shots; ++s)
        shoot();
    endProduct();
}

bool LineSimulator::settle(int timeoutMs)
{
    bool idle = true;
    for (Lane &lane : m_lanes)
        idle = lane.camera->waitIdle(timeoutMs) && idle;
    return idle;
}

void LineSimulator::finish()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (size_t i = 0; i < m_lanes.size(); ++i) {
        Lane &lane = m_lanes[i];
        if (lane.conveyor.size() == kWindowsToEjector + 1) {
            judge(i, lane.conveyor.front());
            lane.conveyor.pop_front();
        }
    }
}

void LineSimulator::clearConveyor()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (Lane &lane : m_lanes)
        lane.conveyor.clear();
}

LineSimulator::Counters LineSimulator::counters(int camera) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (camera < 0 || camera >= static_cast<int>(m_lanes.size()))
        return Counters();
    return m_lanes[camera].counters;
}

void LineSimulator::setKeepHistory(bool keep)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_keepHistory = keep;
}

std::vector<LineSimulator::JudgedProduct> LineSimulator::history(int camera) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (camera < 0 || camera >= static_cast<int>(m_lanes.size()))
        return {};
    return m_lanes[camera].history;
}

bool LineSimulator::currentProductIsNg(int camera) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (camera < 0 || camera >= static_cast<int>(m_lanes.size()))
        return false;
    return m_lanes[camera].product.ng;
}

void LineSimulator::start(double productsPerMinute)
{
    if (m_thread.joinable() || productsPerMinute <= 0)
        return;
    {
        std::lock_guard<std::mutex> lock(m_runMutex);
        m_stop = false;
    }
    m_thread = std::thread(&LineSimulator::run, this, productsPerMinute);
}

void LineSimulator::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_runMutex);
        m_stop = true;
    }
    m_runWake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

bool LineSimulator::isRunning() const
{
    return m_thread.joinable();
}

void LineSimulator::run(double productsPerMinute)
{
    // The packing machine's timing does not wait for the station's computer.
    CapturePriority::raiseCurrentThread();
    using Clock = std::chrono::steady_clock;
    const auto period = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(60.0 / productsPerMinute));
    // The window is open for 60 % of a product's period. The shots fall in its first two
    // thirds, so the last frame has time to leave the camera before the window closes.
    const auto window = period * 6 / 10;
    auto waitUntil = [this](Clock::time_point t) {
        std::unique_lock<std::mutex> lock(m_runMutex);
        if (m_runWake.wait_until(lock, t, [this] { return m_stop; }))
            return false;
        m_clockLateness.add(std::chrono::duration<double, std::milli>(Clock::now() - t).count());
        return true;
    };
    // A product that has entered the window is seen to its end, as the machine finishes its
    // cycle before it stands: left half seen, it would have no number at the station, and
    // its box would pass the ejector unjudged after the next start. At most one window long.
    auto finishUntil = [this](Clock::time_point t) {
        std::this_thread::sleep_until(t);
        m_clockLateness.add(std::chrono::duration<double, std::milli>(Clock::now() - t).count());
    };
    auto t0 = Clock::now();
    for (;;) {
        beginProduct();
        for (int s = 0; s < m_shots; ++s) {
            finishUntil(t0 + window * (2 * s + 1) / (3 * m_shots));
            shoot();
        }
        finishUntil(t0 + window);
        endProduct();
        t0 += period;
        if (t0 < Clock::now())
            t0 = Clock::now(); // fell behind: don't try to catch up with a burst
        if (!waitUntil(t0))
            return;
    }
}
