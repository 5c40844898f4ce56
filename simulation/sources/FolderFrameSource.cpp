#include "FolderFrameSource.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdlib>

namespace {

unsigned be16(const uchar *p) { return unsigned(p[0]) << 8 | p[1]; }
quint32 be32(const uchar *p) { return quint32(be16(p)) << 16 | be16(p + 2); }
unsigned le16(const uchar *p) { return unsigned(p[1]) << 8 | p[0]; }
qint32 le32(const uchar *p) { return qint32(quint32(le16(p + 2)) << 16 | le16(p)); }

// Sides beyond 2^31 are no picture any decoder makes; the product must not overflow.
long long area(long long w, long long h)
{
    return w > (1LL << 31) || h > (1LL << 31) ? -1 : w * h;
}

// The width times height a PNG, BMP or JPEG header claims, read the way the decoder
// reads it (by the file's signature, not its name); -1 when the header cannot be read.
long long claimedPixels(const std::string &path)
{
    QFile f(QString::fromStdString(path));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    uchar h[26];
    if (f.read(reinterpret_cast<char *>(h), sizeof h) != qint64(sizeof h))
        return -1;
    if (h[0] == 0x89 && h[1] == 'P' && h[2] == 'N' && h[3] == 'G') // IHDR comes first
        return area(be32(h + 16), be32(h + 20));
    if (h[0] == 'B' && h[1] == 'M') {
        const qint32 info = le32(h + 14);
        if (info == 12) // the old OS/2 header: 16-bit sides
            return area(le16(h + 18), le16(h + 20));
        return area(std::llabs(le32(h + 18)), std::llabs(le32(h + 22)));
    }
    if (h[0] != 0xFF || h[1] != 0xD8)
        return -1;
    // JPEG: walk the segments up to the first frame header (SOF0..SOF15 bar DHT, JPG, DAC).
    qint64 at = 2;
    uchar m[9];
    while (f.seek(at) && f.read(reinterpret_cast<char *>(m), 2) == 2) {
        if (m[0] != 0xFF)
            return -1;
        if (m[1] == 0xFF) { // fill byte before a marker
            ++at;
            continue;
        }
        if (m[1] == 0x01 || (m[1] >= 0xD0 && m[1] <= 0xD7)) { // markers without a length
            at += 2;
            continue;
        }
        if (m[1] == 0xDA || m[1] == 0xD9) // scan or end before any frame header
            return -1;
        if (f.read(reinterpret_cast<char *>(m + 2), 7) != 7)
            return -1;
        if (m[1] >= 0xC0 && m[1] <= 0xCF && m[1] != 0xC4 && m[1] != 0xC8 && m[1] != 0xCC)
            return area(be16(m + 5), be16(m + 7));
        at += 2 + be16(m + 2);
    }
    return -1;
}

} // namespace

FolderFrameSource::FolderFrameSource(const std::string &folder, long long maxPixels)
    : m_maxPixels(maxPixels)
{
    const QDir dir(QString::fromStdString(folder));
    const QStringList names = dir.entryList({"*.jpg", "*.jpeg", "*.png", "*.bmp"},
                                            QDir::Files, QDir::Name);
    for (const QString &name : names)
        m_files.push_back(dir.filePath(name).toStdString());
}

FrameSource::Product FolderFrameSource::next(int, int shots)
{
    Product p;
    if (m_files.empty() || shots < 1)
        return p;
    // Unreadable files are skipped; after a full round without one, give up.
    for (size_t tries = 0; tries < m_files.size(); ++tries) {
        const std::string path = m_files[m_next];
        m_next = (m_next + 1) % m_files.size();
        const long long pixels = claimedPixels(path);
        if (pixels < 0 || pixels > m_maxPixels)
            continue;
        cv::Mat stacked;
        try {
            stacked = cv::imread(path, cv::IMREAD_UNCHANGED);
        } catch (const cv::Exception &) {
            continue; // some broken headers make the decoder throw: as unreadable as any
        }
        if (stacked.empty() || stacked.rows < shots)
            continue;
        if (stacked.depth() != CV_8U)
            continue;
        if (stacked.channels() == 4)
            cv::cvtColor(stacked, stacked, cv::COLOR_BGRA2BGR);
        const int rows = stacked.rows / shots;
        for (int s = 0; s < shots; ++s)
            p.frames.push_back(stacked.rowRange(s * rows, (s + 1) * rows).clone());
        const std::string name = QFileInfo(QString::fromStdString(path)).fileName().toStdString();
        p.ng = name.rfind("ng", 0) == 0;
        p.label = name;
        return p;
    }
    return p;
}
