#include "Rotation.h"

#include "SettingsFile.h"
#include "StationPaths.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cstdio>

std::atomic<int> g_rotate[4] = {{Rotation::kNone}, {Rotation::kNone}, {Rotation::kNone},
                                {Rotation::kNone}};
std::atomic<bool> g_rotate_enable[4] = {{false}, {false}, {false}, {false}};

namespace {
void reportOpenFailure()
{
    std::printf("Error: Open config file rotate.txt\n");
    std::fflush(stdout);
}
} // namespace

int Rotation::nextCode(int code)
{
    return ((code % 4) + 5) % 4;
}

bool readRotate(SettingsRead *found)
{
    SettingsRead ignored;
    SettingsRead &result = found ? *found : ignored;
    result = SettingsRead();
    QFile file(StationPaths::rotateFile());
    if (!file.open(QIODevice::ReadOnly)) {
        reportOpenFailure();
        result.state = SettingsRead::Missing;
        return false;
    }
    QByteArray line = file.readLine(256);
    if (SettingsFile::blank(line)) {
        result.state = SettingsRead::Empty;
        result.detail = QStringLiteral("Rotation file rotate.txt is empty: no picture is rotated, "
                                       "and the file is kept as it is.");
        return false;
    }
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    const QStringList pieces = QString::fromLatin1(line).split(QLatin1Char(','));
    // Eight fields are the whole record: a file whose final comma was lost in an editor
    // still holds the operator's rotations, which start-up would otherwise overwrite.
    if (pieces.size() < 8) {
        result.state = SettingsRead::Damaged;
        result.detail = QStringLiteral("Rotation file rotate.txt is cut short or garbled: no picture is "
                                       "rotated, and the file is kept as it is.");
        return false;
    }
    for (int k = 0; k < 4; ++k) {
        g_rotate_enable[k] = pieces[2 * k].toInt() != 0;
        int code = pieces[2 * k + 1].toInt();
        // OpenCV's rotate leaves its output empty for any other code, which would
        // hand an empty image to the detector.
        if (code < 0 || code > Rotation::kNone) {
            std::printf("Ignored rotation code %d of camera %d in rotate.txt, no rotation\n", code,
                        k + 1);
            std::fflush(stdout);
            code = Rotation::kNone;
        }
        g_rotate[k] = code;
    }
    return true;
}

bool writeRotate()
{
    QByteArray out;
    for (int k = 0; k < 4; ++k) {
        out += QByteArray::number(g_rotate_enable[k] ? 1 : 0).left(1) + ',';
        out += QByteArray::number(g_rotate[k].load()).left(1) + ',';
    }
    if (!SettingsFile::writeWhole(StationPaths::rotateFile(), out)) {
        reportOpenFailure();
        return false;
    }
    return true;
}

void Rotation::setNone()
{
    for (int k = 0; k < 4; ++k) {
        g_rotate[k] = Rotation::kNone;
        g_rotate_enable[k] = false;
    }
}

bool resetRotation()
{
    Rotation::setNone();
    return saveRotation();
}

bool saveRotation()
{
    if (writeRotate())
        return true;
    std::printf("\nFail to write message to file.\nThe rotation settings could not be written to %s\n",
                qPrintable(QFileInfo(StationPaths::rotateFile()).absoluteFilePath()));
    std::fflush(stdout);
    return false;
}
