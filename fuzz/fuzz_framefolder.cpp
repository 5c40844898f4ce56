// A folder of stored box images: whatever a file holds, a product played from it has
// exactly one frame per shot, all of one size and type, 8-bit grey or BGR, cut from
// the stored picture, and is NG exactly when the file name starts with "ng".
// The first input byte picks the file's name and extension, the rest is the file.
#include "FuzzSupport.h"

#include "FolderFrameSource.h"

#include <QDir>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    Fuzz::enterStation();
    static const char *const names[] = {"a.png", "ng1.png", "b.jpg", "ng2.jpeg", "c.bmp", "ng3.bmp"};
    const char *name = names[data[0] % 6];
    QDir folder(QStringLiteral("../data/images"));
    folder.removeRecursively();
    QDir().mkpath(folder.path());
    Fuzz::write(folder.filePath(QLatin1String(name)), data + 1, size - 1);

    FolderFrameSource source(folder.path().toStdString());
    FUZZ_CHECK(!source.isEmpty());
    for (int shots = 1; shots <= 3; ++shots) {
        const FrameSource::Product p = source.next(0, shots);
        if (p.frames.empty())
            continue;
        FUZZ_CHECK(int(p.frames.size()) == shots);
        for (const cv::Mat &f : p.frames) {
            FUZZ_CHECK(!f.empty() && f.depth() == CV_8U && (f.channels() == 1 || f.channels() == 3));
            FUZZ_CHECK(f.size() == p.frames.front().size() && f.type() == p.frames.front().type());
        }
        FUZZ_CHECK(p.ng == (name[0] == 'n'));
    }
    return 0;
}
