#include "GeneratedFrameSource.h"

#ifdef __linux__
#include <pthread.h>
#include <sched.h>
#endif

GeneratedFrameSource::GeneratedFrameSource(uint64_t seed, double ngShare, bool colour,
                                           int dotsPerImage)
    : m_generator(seed)
    , m_ngShare(ngShare)
    , m_colour(colour)
    , m_dotsPerImage(dotsPerImage)
    , m_rng(static_cast<unsigned>(seed))
{
    const bool needGood = ngShare < 1.0;
    const bool needNg = ngShare > 0.0;
    // Half of the generator's products carry a defect: a few draws find both kinds.
    for (int tries = 0; tries < 64; ++tries) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if ((!needGood || !m_pool[0].empty()) && (!needNg || !m_pool[1].empty()))
                break;
        }
        drawOne();
    }
    m_drawer = std::thread(&GeneratedFrameSource::drawLoop, this);
}

GeneratedFrameSource::~GeneratedFrameSource()
{
    m_stop = true;
#ifdef __linux__
    // An idle-class thread gets no CPU while anything else wants it: its last product is
    // finished at normal priority, or the join would last as long as the machine is busy.
    sched_param normal{};
    pthread_setschedparam(m_drawer.native_handle(), SCHED_OTHER, &normal);
#endif
    m_drawer.join(); // at most one product's drawing away
}

bool GeneratedFrameSource::drawOne()
{
    const BoxImageGenerator::Product product = m_generator.product(m_index++, m_colour, m_dotsPerImage);
    Drawn d;
    for (const auto &image : product.images)
        d.images.push_back(image.image);
    d.defectImage = product.defect == BoxImageGenerator::None ? -1 : product.defectImage;
    d.label = BoxImageGenerator::defectName(product.defect);
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<Drawn> &pool = m_pool[d.defectImage >= 0];
    if (pool.size() < kPoolSize)
        pool.push_back(std::move(d));
    return m_pool[0].size() < kPoolSize || m_pool[1].size() < kPoolSize;
}

void GeneratedFrameSource::drawLoop()
{
#ifdef __linux__
    // Only the CPU time that nothing else wants: the station's own threads come first.
    sched_param idle{};
    sched_setscheduler(0, SCHED_IDLE, &idle);
#endif
    while (!m_stop && drawOne()) {
    }
}

int GeneratedFrameSource::pooled() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<int>(m_pool[0].size() + m_pool[1].size());
}

FrameSource::Product GeneratedFrameSource::next(int, int shots)
{
    bool ng = std::uniform_real_distribution<double>(0.0, 1.0)(m_rng) < m_ngShare;
    Product p;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_pool[ng].empty())
        ng = !ng; // the constructor found no product of this kind
    if (m_pool[ng].empty())
        return p;
    const Drawn &d = m_pool[ng][m_next[ng]++ % m_pool[ng].size()];
    for (int s = 0; s < shots; ++s)
        p.frames.push_back(d.images[s % d.images.size()]);
    // A defect in an image that this line's shots never show is no defect.
    p.ng = d.defectImage >= 0 && d.defectImage < shots;
    p.label = d.label;
    return p;
}
