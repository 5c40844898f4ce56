#include "GeneratedFrameSource.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>

#ifdef __linux__
#include <pthread.h>
#include <sched.h>
#endif

namespace {

uint64_t threadCpuNs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return uint64_t(t.tv_sec) * 1000000000ULL + uint64_t(t.tv_nsec);
}

} // namespace

bool GeneratedFrameSource::Queue::push(DrawnPtr product)
{
    const size_t tail = m_tail.load(std::memory_order_relaxed);
    if (tail - m_head.load(std::memory_order_acquire) >= m_slots.size())
        return false;
    m_slots[tail % m_slots.size()] = std::move(product);
    m_tail.store(tail + 1, std::memory_order_release);
    return true;
}

GeneratedFrameSource::DrawnPtr GeneratedFrameSource::Queue::pop()
{
    const size_t head = m_head.load(std::memory_order_relaxed);
    if (head == m_tail.load(std::memory_order_acquire))
        return nullptr;
    DrawnPtr product = std::move(m_slots[head % m_slots.size()]);
    m_head.store(head + 1, std::memory_order_release);
    return product;
}

GeneratedFrameSource::GeneratedFrameSource(uint64_t seed, double ngShare, bool colour,
                                           int dotsPerImage, int poolSize, Draw draw)
    : m_generator(seed)
    , m_ngShare(ngShare)
    , m_shownSize(size_t(std::max(1, poolSize - poolSize / 2)))
    , m_draw(std::move(draw))
    , m_rng(static_cast<unsigned>(seed))
    , m_retired(16)
{
    for (auto &shown : m_shown)
        shown.reserve(m_shownSize); // no allocation on the line's thread
    m_cooling.resize(2 * 4); // two replacements per camera, for up to four cameras
    if (!m_draw)
        m_draw = [this, colour, dotsPerImage](int index) {
            return m_generator.product(index, colour, dotsPerImage);
        };
    const size_t drawers = std::clamp(std::thread::hardware_concurrency(), 1u, kMostDrawers);
    const size_t waiting = size_t(std::max(1, poolSize / 2)) / drawers; // new ones per kind
    for (size_t d = 0; d < drawers; ++d)
        m_drawers.push_back(std::make_unique<Drawer>(std::max<size_t>(1, waiting)));
    for (int kind = 0; kind < 2; ++kind)
        if (needed(kind))
            drawOne(*m_drawers.front(), kind);
    for (size_t d = 0; d < drawers; ++d)
        m_drawers[d]->thread = std::thread(&GeneratedFrameSource::drawLoop, this, d);
}

GeneratedFrameSource::~GeneratedFrameSource()
{
    m_stop = true;
    m_wake.notify_all();
#ifdef __linux__
    // An idle-class thread gets no CPU while anything else wants it: its last product is
    // finished at normal priority, or the join would last as long as the machine is busy.
    sched_param normal{};
    for (auto &drawer : m_drawers)
        pthread_setschedparam(drawer->thread.native_handle(), SCHED_OTHER, &normal);
#endif
    for (auto &drawer : m_drawers)
        drawer->thread.join(); // at most one product's drawing away
}

bool GeneratedFrameSource::needed(int kind) const
{
    return kind == 1 ? m_ngShare > 0.0 : m_ngShare < 1.0;
}

int GeneratedFrameSource::nextIndex(int kind)
{
    std::lock_guard<std::mutex> lock(m_indexMutex);
    int &index = m_cursor[kind];
    while ((m_generator.productDefect(index) != BoxImageGenerator::None) != (kind == 1))
        ++index;
    return index++;
}

void GeneratedFrameSource::drawOne(Drawer &drawer, int kind)
{
    const uint64_t cpu0 = threadCpuNs();
    const BoxImageGenerator::Product product = m_draw(nextIndex(kind));
    auto d = std::make_shared<Drawn>();
    for (const auto &image : product.images)
        d->images.push_back(image.image);
    d->defectImage = product.defect == BoxImageGenerator::None ? -1 : product.defectImage;
    d->label = BoxImageGenerator::defectName(product.defect);
    drawer.fresh[kind].push(std::move(d)); // it draws only for a queue with room
    ++m_drawn[kind];
    m_drawingCpuNs += threadCpuNs() - cpu0;
}

int GeneratedFrameSource::kindToDraw(const Drawer &drawer) const
{
    // Draws follow the NG share, whatever the line happened to show; a kind whose new
    // products already fill their queue waits for the line to show one.
    int kind = -1;
    double least = 0;
    for (int k = 0; k < 2; ++k) {
        if (!needed(k) || drawer.fresh[k].full())
            continue;
        const double share = k == 1 ? m_ngShare : 1.0 - m_ngShare;
        const double drawnPerShare = double(m_drawn[k]) / share;
        if (kind < 0 || drawnPerShare < least) {
            kind = k;
            least = drawnPerShare;
        }
    }
    return kind;
}

void GeneratedFrameSource::drawLoop(size_t index)
{
    Drawer &drawer = *m_drawers[index];
#ifdef __linux__
    // Only the CPU time that nothing else wants: the station's own threads come first.
    sched_param idle{};
    sched_setscheduler(0, SCHED_IDLE, &idle);
#endif
    while (!m_stop) {
        while (index == 0 && m_retired.pop()) {
        }
        std::unique_lock<std::mutex> lock(m_restMutex);
        const int kind = m_busy && m_busy() ? -1 : kindToDraw(drawer);
        if (kind >= 0) {
            lock.unlock();
            drawOne(drawer, kind);
            continue;
        }
        // The line's thread wakes it without a lock, so a wake may come just before the
        // wait: the wait is short.
        m_wake.wait_for(lock, std::chrono::milliseconds(20));
    }
}

FrameSource::Product GeneratedFrameSource::next(int, int shots)
{
    bool ng = std::uniform_real_distribution<double>(0.0, 1.0)(m_rng) < m_ngShare;
    if (!needed(ng))
        ng = !ng;
    Product p;
    std::vector<Shown> &shown = m_shown[ng];
    DrawnPtr fresh;
    // A new one takes the place of a shown one, which goes back to be freed: not while the
    // way back is full.
    const bool roomBack = shown.size() < m_shownSize || !m_retired.full();
    for (size_t d = 0; d < m_drawers.size() && !fresh && roomBack; ++d)
        fresh = m_drawers[m_nextDrawer++ % m_drawers.size()]->fresh[ng].pop();
    Shown *show = nullptr;
    if (fresh) {
        // It joins the shown ones, in place of the one shown most.
        if (shown.size() < m_shownSize) {
            shown.push_back({std::move(fresh), 0});
            show = &shown.back();
        } else {
            show = &*std::max_element(shown.begin(), shown.end(),
                                      [](const Shown &a, const Shown &b) { return a.times < b.times; });
            DrawnPtr &cooling = m_cooling[m_nextCooling++ % m_cooling.size()];
            if (cooling)
                m_retired.push(std::move(cooling)); // has room: checked above
            cooling = std::move(show->drawn);
            *show = {std::move(fresh), 0};
        }
        m_wake.notify_all();
    } else if (!shown.empty()) {
        show = &*std::min_element(shown.begin(), shown.end(),
                                  [](const Shown &a, const Shown &b) { return a.times < b.times; });
    } else {
        return p; // nothing drawn of this kind yet
    }
    const Drawn &d = *show->drawn;
    for (int s = 0; s < shots; ++s)
        p.frames.push_back(d.images[s % d.images.size()]);
    // A defect in an image that this line's shots never show is no defect.
    p.ng = d.defectImage >= 0 && d.defectImage < shots;
    p.label = d.label;
    ++m_shownCount;
    if (show->times++ == 0)
        ++m_distinct[p.ng];
    return p;
}

void GeneratedFrameSource::restWhile(std::function<bool()> busy)
{
    std::lock_guard<std::mutex> lock(m_restMutex);
    m_busy = std::move(busy);
}

GeneratedFrameSource::Tally GeneratedFrameSource::tally() const
{
    Tally t;
    t.shown = m_shownCount;
    for (int k = 0; k < 2; ++k) {
        t.distinct[k] = m_distinct[k];
        t.drawn[k] = m_drawn[k];
    }
    t.drawingCpuSeconds = m_drawingCpuNs / 1e9;
    return t;
}

std::string GeneratedFrameSource::account() const
{
    const Tally t = tally();
    const uint64_t drawn = t.drawn[0] + t.drawn[1];
    char line[200];
    std::snprintf(line, sizeof line,
                  "pictures: shown %llu distinct-good %llu distinct-ng %llu drawn %llu (%.0f ms of CPU each)",
                  static_cast<unsigned long long>(t.shown), static_cast<unsigned long long>(t.distinct[0]),
                  static_cast<unsigned long long>(t.distinct[1]), static_cast<unsigned long long>(drawn),
                  drawn ? 1000.0 * t.drawingCpuSeconds / drawn : 0.0);
    return line;
}
