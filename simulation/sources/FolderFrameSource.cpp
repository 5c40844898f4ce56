#include "FolderFrameSource.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <QDir>
#include <QFileInfo>

FolderFrameSource::FolderFrameSource(const std::string &folder)
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
