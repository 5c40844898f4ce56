#pragma once

#include <QByteArray>
#include <QDate>

#include <array>
#include <cstdint>

// Shift index of the last statistics write (0 A, 1 B, 2 C); kNoShiftWritten until the
// first write, which, like the first write after a C shift, starts a new day block.
extern int g_last_shift;

namespace ShiftStatistics {
constexpr int kNoShiftWritten = 256;
constexpr int kPositions = 4;

// "\n\n", 86 asterisks, "\n", then "yyyy-MM-dd :\n".
QByteArray dayHeader(const QDate &date);

// One shift line in GBK: the shift letter ('A' for 0, 'B' for 1, 'C' otherwise), the
// total as at least 10 zero-padded digits, reject and pass rate in percent with 5 decimals.
// total must be at least 1.
QByteArray shiftLine(int shiftIndex, int64_t total, float kicks);

// Appends one shift's record to "../conf/camera%d_statistic.txt" of every opened position
// (a day header first when the previous write was a C shift or there was none), then
// sets g_last_shift to shiftIndex. A total below 1 writes nothing. A file that can't be
// opened is skipped. Returns the number of files written.
int appendShiftStatistics(int64_t total, int shiftIndex,
                          const std::array<float, kPositions> &kicks,
                          const std::array<bool, kPositions> &opened,
                          const QDate &today = QDate::currentDate());
} // namespace ShiftStatistics
