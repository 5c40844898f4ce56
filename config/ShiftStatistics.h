#pragma once

// Shift index of the last statistics write (0 A, 1 B, 2 C); kNoShiftWritten until the
// first write, which, like the first write after a C shift, starts a new day block.
extern int g_last_shift;

namespace ShiftStatistics {
constexpr int kNoShiftWritten = 256;
}
