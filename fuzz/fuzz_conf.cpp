// conf.txt: whatever the file holds, the record's shot counts stay usable, and what the
// station writes from the record reads back as the same record and the same text.
#include "FuzzSupport.h"

#include "StationPaths.h"
#include "SysConf.h"

namespace {

bool same(const SysConf &a, const SysConf &b)
{
    bool equal = a.SAVE == b.SAVE && a.MISMATCHACT == b.MISMATCHACT && a.SAVE_DAYS == b.SAVE_DAYS
        && a.AUTO_OPEN == b.AUTO_OPEN && a.AUTO_WORK == b.AUTO_WORK && a.AUTO_SHIFT == b.AUTO_SHIFT
        && a.SHIFT_A == b.SHIFT_A && a.SHIFT_B == b.SHIFT_B && a.SHIFT_C == b.SHIFT_C
        && a.TIMING_SHIFT == b.TIMING_SHIFT && a.MonitorIP == b.MonitorIP
        && a.MonitorPort == b.MonitorPort;
    for (int k = 0; k < SysConf::kCameras; ++k) {
        equal = equal && a.EXPO[k] == b.EXPO[k] && a.GAIN[k] == b.GAIN[k]
            && a.FILTER[k] == b.FILTER[k] && a.USERID[k] == b.USERID[k] && a.SHOOT[k] == b.SHOOT[k];
        for (int s = 0; s < SysConf::kMaxShots; ++s)
            equal = equal && a.NO[k][s] == b.NO[k][s];
    }
    return equal;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Fuzz::enterStation();
    Fuzz::write(StationPaths::confFile(), data, size);
    SysConf first;
    FUZZ_CHECK(readConfFile(first));
    for (int k = 0; k < SysConf::kCameras; ++k)
        FUZZ_CHECK(first.SHOOT[k] >= 1 && first.SHOOT[k] <= SysConf::kMaxShots);

    FUZZ_CHECK(writeConfFile(first));
    const QByteArray written = Fuzz::read(StationPaths::confFile());
    FUZZ_CHECK(written.count('\n') == 41);
    SysConf second;
    FUZZ_CHECK(readConfFile(second));
    FUZZ_CHECK(same(first, second));
    FUZZ_CHECK(writeConfFile(second));
    FUZZ_CHECK(Fuzz::read(StationPaths::confFile()) == written);
    return 0;
}
