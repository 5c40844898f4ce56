#include "PlcStatistics.h"

#include "CameraSlot.h"
#include "ModbusLink.h"
#include "PlcState.h"

#include <cstdio>

std::array<float, ShiftStatistics::kPositions> readKickCounts(
    ModbusLink *link, const PlcAddrMap &addr, std::array<bool, ShiftStatistics::kPositions> *unread)
{
    std::array<float, ShiftStatistics::kPositions> kicks{};
    if (unread)
        unread->fill(false);
    const bool reachable = link && link->connected() && !g_plc_setup_open;
    for (int k = 0; k < ShiftStatistics::kPositions; ++k) {
        const int address = addr.kick(k);
        if (address <= 0)
            continue;
        uint16_t pair[2] = {0, 0};
        if (reachable && link->readRegisters(address, 2, pair) == 2)
            kicks[k] = static_cast<float>(static_cast<int32_t>(uint32_t(pair[1]) << 16 | pair[0]));
        else if (unread)
            (*unread)[k] = true;
    }
    return kicks;
}

void writeStatistics(int64_t total, int shiftIndex)
{
    std::array<bool, ShiftStatistics::kPositions> unread{};
    const auto kicks = readKickCounts(g_modbus, g_plc_addr, &unread);
    std::array<bool, ShiftStatistics::kPositions> opened{};
    for (int k = 0; k < ShiftStatistics::kPositions; ++k) {
        opened[k] = g_cameras[k].opened;
        // The line still shows 0 kicks (a 100% pass rate); say so where someone looks.
        if (opened[k] && unread[k] && total >= 1) {
            std::printf("Statistics: kick count of camera %d# not read from the PLC, written as 0\n",
                        k + 1);
            std::fflush(stdout);
        }
    }
    ShiftStatistics::appendShiftStatistics(total, shiftIndex, kicks, opened);
}
