#pragma once

#include "FrameSource.h"

#include <string>
#include <vector>

// Products from a folder of stored box images (.jpg, .png, .bmp), in name order, over
// and over. Each file is one product: its frames stacked top to bottom, cut into as many
// equal parts as shots are taken. A file whose name starts with "ng" is an NG product.
// A file is skipped when it cannot be read, or when its header claims more than
// maxPixels: a broken header must not make the station allocate gigabytes.
class FolderFrameSource : public FrameSource
{
public:
    static constexpr long long DefaultMaxPixels = 1LL << 26; // 64 megapixels
    explicit FolderFrameSource(const std::string &folder,
                               long long maxPixels = DefaultMaxPixels);

    bool isEmpty() const { return m_files.empty(); }
    Product next(int camera, int shots) override;

private:
    std::vector<std::string> m_files;
    size_t m_next = 0;
    long long m_maxPixels;
};
