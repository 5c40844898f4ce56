#pragma once

#include "BoxImageGenerator.h"
#include "FrameSource.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

// Products drawn by the box-image generator: each good, or with one known defect (a
// missing, shrunk or smeared dot) in one of its images, at a given NG share.
//
// Drawing a product takes about 45 ms of CPU, longer than the line leaves between
// products, so products are drawn on threads of their own at idle priority (one per core,
// up to two: the idle time of a core is lost to a drawer busy on the other), for as long
// as the line runs, and next() never waits for one: it shows a new product of the wanted
// kind when the drawing has one ready, and otherwise the product of that kind shown least
// so far. Over a run the line so sees as many distinct products as the spare CPU can draw,
// not the same few again (a model's mistake on one picture would come back every round).
// Products are the generator's own, by index, each index drawn once; the drawing follows
// the NG share and rests while every kind has its new products waiting.
//
// The line's thread, which keeps the line's time, takes no lock a drawing thread holds:
// an idle-priority thread that held one would hold it for as long as anything else wants
// the CPU. New products reach it through lock-free queues, per drawing thread and kind,
// and the products it no longer shows go back through another, to be freed on the first
// drawing thread.
//
// The constructor draws the first product of each kind needed, so that next() always has
// one to show.
class GeneratedFrameSource : public FrameSource
{
public:
    // Products kept per kind (good, NG): half new ones waiting (shared out between the
    // drawing threads), half shown ones to show again; and 8 just replaced. 24 grey
    // products take 29 MB.
    static constexpr int kDefaultPoolSize = 24;
    static constexpr unsigned kMostDrawers = 2;

    // Draws product `index` (tests stand in a faster one; its defect must be the
    // generator's productDefect(index)).
    using Draw = std::function<BoxImageGenerator::Product(int index)>;

    GeneratedFrameSource(uint64_t seed, double ngShare, bool colour, int dotsPerImage,
                         int poolSize = kDefaultPoolSize, Draw draw = nullptr);
    ~GeneratedFrameSource() override;

    Product next(int camera, int shots) override;

    // The drawing rests while `busy` says so (asked on the drawing thread, between
    // products; it must not take a lock that the station's threads take).
    void restWhile(std::function<bool()> busy);

    struct Tally
    {
        uint64_t shown = 0;           // products handed to the line
        uint64_t distinct[2] = {};    // of those, distinct ones, [0] good, [1] NG (as shown)
        uint64_t drawn[2] = {};       // products drawn, by the generator's kind
        double drawingCpuSeconds = 0; // the drawing threads' CPU time, constructor included
    };
    // Any thread.
    Tally tally() const;
    // "pictures: shown 1800 distinct-good 620 distinct-ng 610 drawn 1250 (41 ms of CPU each)"
    std::string account() const override;

private:
    struct Drawn
    {
        std::vector<cv::Mat> images; // the generator's three
        int defectImage = -1;        // -1: good
        std::string label;
    };
    using DrawnPtr = std::shared_ptr<const Drawn>;

    // Products from one thread to another: one writer, one reader, no lock.
    class Queue
    {
    public:
        explicit Queue(size_t capacity) : m_slots(capacity) {}
        bool full() const { return m_tail.load(std::memory_order_acquire) - m_head.load(std::memory_order_acquire) >= m_slots.size(); }
        bool push(DrawnPtr product);
        DrawnPtr pop();

    private:
        std::vector<DrawnPtr> m_slots;
        std::atomic<size_t> m_head{0}; // next to pop; the reader's
        std::atomic<size_t> m_tail{0}; // next to fill; the writer's
    };
    struct Shown
    {
        DrawnPtr drawn;
        uint64_t times = 0;
    };

    struct Drawer
    {
        explicit Drawer(size_t capacity) : fresh{Queue(capacity), Queue(capacity)} {}
        Queue fresh[2]; // drawn, not shown yet, per kind
        std::thread thread;
    };

    bool needed(int kind) const;
    int nextIndex(int kind);
    void drawOne(Drawer &drawer, int kind);
    int kindToDraw(const Drawer &drawer) const; // -1: nothing to draw now
    void drawLoop(size_t drawer);

    const BoxImageGenerator m_generator;
    const double m_ngShare;
    const size_t m_shownSize;       // per kind
    Draw m_draw;
    std::mutex m_indexMutex;        // the drawing threads': guards m_cursor
    int m_cursor[2] = {0, 0};       // the next index to look at, per kind

    // The line's thread only.
    std::mt19937 m_rng;
    std::vector<Shown> m_shown[2];  // [0] good, [1] NG
    size_t m_nextDrawer = 0;
    // Products replaced in m_shown, kept until every camera has shown a later one, so that
    // their pictures are never freed on the line's thread (a lane holds its product's).
    std::vector<DrawnPtr> m_cooling;
    size_t m_nextCooling = 0;

    std::vector<std::unique_ptr<Drawer>> m_drawers;
    Queue m_retired;   // shown, no longer kept; freed by the first drawer
    std::atomic<uint64_t> m_shownCount{0};
    std::atomic<uint64_t> m_distinct[2] = {};
    std::atomic<uint64_t> m_drawn[2] = {};
    std::atomic<uint64_t> m_drawingCpuNs{0};

    std::mutex m_restMutex; // the drawers', and restWhile()'s: guards m_busy
    std::function<bool()> m_busy;
    std::condition_variable m_wake;
    std::atomic<bool> m_stop{false};
};
