#include "ShiftStatistics.h"

int g_last_shift = ShiftStatistics::kNoShiftWritten;
