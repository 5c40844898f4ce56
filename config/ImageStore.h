#pragma once

#include <QDateTime>
#include <QString>

// Where the station's images go: one folder per day under the image root, one per camera
// (position + 1) below it, then ALL/ for sampled whole frames, ng/<i>/ and ng_result/<i>/
// for the images of NG frames. File names carry the frame's time stamp.
namespace ImageStore {

// "yyyy-MM-dd_HH-mm-ss_zzz_" (with its trailing underscore).
QString stamp(const QDateTime &when);
QString dayFolder(const QDate &day);
QString wholeFramePath(const QDateTime &when, int cam);
QString ngPath(const QDateTime &when, int cam, int image);
QString ngResultPath(const QDateTime &when, int cam, int image);

} // namespace ImageStore
