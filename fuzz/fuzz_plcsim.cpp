// plcsim: its command line, the station's modbus.txt and plc.txt and the commands typed
// at it. Input: four parts separated by lines "%%": arguments (one per line), modbus.txt,
// plc.txt, commands. A command line plcsim takes gives a finite rate, shares within
// 0..1 and a line timing within its bounds; it refuses exactly the files with an address
// no Modbus request can reach; and whatever the files, no command takes the simulator
// outside its memory.
#include "FuzzSupport.h"

#include "PlcSimulator.h"
#include "PlcsimArguments.h"
#include "StationPaths.h"

#include <QCoreApplication>

#include <cmath>

namespace {

bool reachable(int a, bool pair) { return a <= 0 || a <= (pair ? 0xFFFE : 0xFFFF); }

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Fuzz::enterStation();
    // plcsim parses its arguments with an application object in place (--help needs it).
    static int argc = 1;
    static char name[] = "plcsim";
    static char *argv0[] = {name, nullptr};
    static QCoreApplication *app = new QCoreApplication(argc, argv0);
    Q_UNUSED(app);
    // Parts are cut at "\n%%\n"; missing ones are empty.
    QList<QByteArray> section;
    {
        QByteArray rest(reinterpret_cast<const char *>(data), static_cast<int>(size));
        int cut;
        while (section.size() < 3 && (cut = rest.indexOf("\n%%\n")) >= 0) {
            section << rest.left(cut);
            rest.remove(0, cut + 4);
        }
        section << rest;
        while (section.size() < 4)
            section << QByteArray();
    }

    QStringList argv{QStringLiteral("plcsim")};
    for (const QByteArray &a : section[0].split('\n'))
        if (!a.isEmpty())
            argv << QString::fromLocal8Bit(a);
    PlcsimArguments args;
    PlcSimulator::Options options;
    if (parsePlcsimArguments(argv, args)) {
        FUZZ_CHECK(std::isfinite(args.options.boxesPerSecond) && args.options.boxesPerSecond >= 0);
        for (double s : args.options.rejectShare)
            FUZZ_CHECK(s >= 0 && s <= 1);
        FUZZ_CHECK(args.options.baud == 0
                   || (args.options.baud >= PlcSimulator::kMinBaud && args.options.baud <= PlcSimulator::kMaxBaud));
        FUZZ_CHECK(args.options.scanMs >= 0 && args.options.scanMs <= PlcSimulator::kMaxScanMs);
        options = args.options;
    } else {
        FUZZ_CHECK(!args.error.isEmpty());
    }

    Fuzz::write(StationPaths::modbusFile(), section[1]);
    Fuzz::write(StationPaths::plcParamFile(), section[2]);
    PlcAddrMap addr;
    FUZZ_CHECK(readPlcAddrMap(addr));
    const QVector<PlcSimulator::Parameter> params = PlcSimulator::readParameters(StationPaths::plcParamFile());
    bool allReachable = reachable(addr.KICK1, true) && reachable(addr.KICK2, true)
        && reachable(addr.KICK3, true) && reachable(addr.KICK4, true)
        && reachable(addr.QUANTITY, true) && reachable(addr.ALARM, true)
        && reachable(addr.SHIFT, false) && reachable(addr.WORK, false)
        && reachable(addr.NO_KICK, false) && reachable(addr.DEBUG, false)
        && reachable(addr.RESET, false);
    for (const PlcSimulator::Parameter &p : params)
        allReachable = allReachable && reachable(p.address, p.address >= PlcSimulator::kFirstRegisterAddress);
    FUZZ_CHECK(PlcSimulator::addressProblems(addr, params).isEmpty() == allReachable);

    // plcsim would stop here on a refusal; the library must be safe all the same.
    PlcSimulator sim(addr, params, options);
    int commands = 0;
    for (const QByteArray &c : section[3].split('\n')) {
        if (++commands > 64)
            break;
        sim.execute(QString::fromLocal8Bit(c));
    }
    FUZZ_CHECK(!sim.execute(QStringLiteral("status")).isEmpty());
    return 0;
}
