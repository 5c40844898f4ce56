#include "GeneratedFrameSource.h"

GeneratedFrameSource::GeneratedFrameSource(uint64_t seed, double ngShare, bool colour,
                                           int dotsPerImage)
    : m_generator(seed)
    , m_ngShare(ngShare)
    , m_colour(colour)
    , m_dotsPerImage(dotsPerImage)
    , m_rng(static_cast<unsigned>(seed))
{
}

FrameSource::Product GeneratedFrameSource::next(int, int shots)
{
    const bool wantNg = std::uniform_real_distribution<double>(0.0, 1.0)(m_rng) < m_ngShare;
    std::vector<Product> &pool = m_pool[wantNg];
    if (pool.size() >= kPoolSize && !pool.empty()) {
        const Product &p = pool[m_next[wantNg]++ % pool.size()];
        if (static_cast<int>(p.frames.size()) == shots)
            return p;
    }
    // Half of the generator's products carry a defect: a few draws find the kind wanted.
    BoxImageGenerator::Product product;
    for (int tries = 0; tries < 32; ++tries) {
        product = m_generator.product(m_index++, m_colour, m_dotsPerImage);
        if ((product.defect != BoxImageGenerator::None) == wantNg)
            break;
    }
    Product p;
    for (int s = 0; s < shots; ++s)
        p.frames.push_back(product.images[s % 3].image);
    p.ng = product.defect != BoxImageGenerator::None && product.defectImage < shots;
    p.label = std::string(BoxImageGenerator::defectName(product.defect));
    if (p.ng == wantNg && pool.size() < kPoolSize)
        pool.push_back(p);
    return p;
}
