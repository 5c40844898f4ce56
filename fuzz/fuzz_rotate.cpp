// rotate.txt: a file that is read gives codes the work threads can use (0..3) and writes
// back as the 16-character line, which reads as the same rotations; a file that is
// refused changes nothing.
#include "FuzzSupport.h"

#include "Rotation.h"
#include "StationPaths.h"

#include <QRegularExpression>

namespace {

QByteArray state()
{
    QByteArray s;
    for (int k = 0; k < 4; ++k)
        s += QByteArray::number(g_rotate_enable[k] ? 1 : 0) + ':' + QByteArray::number(g_rotate[k]) + ' ';
    return s;
}

void setMarker()
{
    for (int k = 0; k < 4; ++k) {
        g_rotate_enable[k] = k % 2 == 0;
        g_rotate[k] = k;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Fuzz::enterStation();
    Fuzz::write(StationPaths::rotateFile(), data, size);
    setMarker();
    const QByteArray marker = state();
    if (!readRotate()) {
        FUZZ_CHECK(state() == marker);
        return 0;
    }
    for (int k = 0; k < 4; ++k)
        FUZZ_CHECK(g_rotate[k] >= 0 && g_rotate[k] <= Rotation::kNone);
    const QByteArray read = state();

    FUZZ_CHECK(writeRotate());
    const QByteArray written = Fuzz::read(StationPaths::rotateFile());
    static const QRegularExpression line(QStringLiteral("^([01],[0-3],){4}$"));
    FUZZ_CHECK(line.match(QString::fromLatin1(written)).hasMatch());
    setMarker();
    FUZZ_CHECK(readRotate());
    FUZZ_CHECK(state() == read);
    return 0;
}
