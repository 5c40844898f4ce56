#include "ImageStore.h"

#include "StationPaths.h"

namespace {
QString cameraFolder(const QDateTime &when, int cam)
{
    return ImageStore::dayFolder(when.date()) + QString::number(cam + 1) + QLatin1Char('/');
}
} // namespace

QString ImageStore::stamp(const QDateTime &when)
{
    return when.toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss_zzz_"));
}

QString ImageStore::dayFolder(const QDate &day)
{
    return StationPaths::imageRoot() + day.toString(QStringLiteral("yyyy-MM-dd")) + QLatin1Char('/');
}

QString ImageStore::wholeFramePath(const QDateTime &when, int cam)
{
    return cameraFolder(when, cam) + QStringLiteral("ALL/") + stamp(when) + QStringLiteral(".jpg");
}

QString ImageStore::ngPath(const QDateTime &when, int cam, int image)
{
    return cameraFolder(when, cam) + QStringLiteral("ng/%1/").arg(image) + stamp(when)
        + QStringLiteral("_%1.jpg").arg(image);
}

QString ImageStore::ngResultPath(const QDateTime &when, int cam, int image)
{
    return cameraFolder(when, cam) + QStringLiteral("ng_result/%1/").arg(image) + stamp(when)
        + QStringLiteral("_%1.jpg").arg(image);
}
