#pragma once

#include "PlcAddrMap.h"
#include "ShiftStatistics.h"

#include <array>
#include <cstdint>

class ModbusLink;

// Kick counts of positions 0..3 (register pairs KICK1..KICK4, low word first). A position
// whose pair isn't configured, can't be read, or when link is null, unconnected or the
// PLC parameter dialog has the line, counts 0. unread, when given, gets the positions
// whose configured pair could not be read.
std::array<float, ShiftStatistics::kPositions> readKickCounts(
    ModbusLink *link, const PlcAddrMap &addr, std::array<bool, ShiftStatistics::kPositions> *unread = nullptr);

// The timed shift change's statistics: reads the kick counts through g_modbus with the
// addresses of g_plc_addr and appends a line per opened camera (g_cameras) to its
// statistics file. shiftIndex: 0 for SHIFT_A, 1 for SHIFT_B, 2 for SHIFT_C.
void writeStatistics(int64_t total, int shiftIndex);
