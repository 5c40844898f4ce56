// plc.txt: every row read is one "name|address|value|remark" line of the file, and the
// PLC simulator starts each reachable parameter address with the value of the last row
// that names it, unless another row's pair shares a register (coils below 40000 as 0 or 1, register pairs from 40000 on).
#include "FuzzSupport.h"

#include "PlcSimulator.h"
#include "StationPaths.h"

#include <QHash>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Fuzz::enterStation();
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<int>(size));
    Fuzz::write(StationPaths::plcParamFile(), bytes);
    const QVector<PlcSimulator::Parameter> rows = PlcSimulator::readParameters(StationPaths::plcParamFile());
    FUZZ_CHECK(rows.size() <= bytes.count('|') / 3);
    FUZZ_CHECK(PlcSimulator::readParameters(StationPaths::plcParamFile()).size() == rows.size());

    QHash<int, int> last;
    for (const PlcSimulator::Parameter &p : rows)
        last[p.address] = p.value;
    // Pairs that share a register (40010 and 40011) overwrite each other, in a PLC too.
    auto overlaps = [&last](int a) { return last.contains(a - 1) || last.contains(a + 1); };
    const bool refused = !PlcSimulator::addressProblems(PlcAddrMap(), rows).isEmpty();
    PlcSimulator sim(PlcAddrMap(), rows, PlcSimulator::Options());
    for (auto it = last.cbegin(); it != last.cend(); ++it) {
        const int a = it.key();
        if (a <= 0)
            continue;
        if (a < PlcSimulator::kFirstRegisterAddress)
            FUZZ_CHECK(sim.coil(a) == (it.value() != 0));
        else if (a <= 0xFFFE && !overlaps(a))
            FUZZ_CHECK(sim.pair(a) == static_cast<uint32_t>(it.value()));
        else if (a > 0xFFFE)
            FUZZ_CHECK(refused);
    }
    return 0;
}
