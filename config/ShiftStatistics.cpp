#include "ShiftStatistics.h"

#include "StationPaths.h"

#include <QFile>
#include <QString>
#include <QTextCodec>

#include <cinttypes>
#include <cstdio>

int g_last_shift = ShiftStatistics::kNoShiftWritten;

namespace ShiftStatistics {

QByteArray dayHeader(const QDate &date)
{
    return "\n\n" + QByteArray(86, '*') + "\n" + date.toString(QStringLiteral("yyyy-MM-dd ")).toLatin1()
           + ":\n";
}

QByteArray shiftLine(int shiftIndex, int64_t total, float kicks)
{
    const char letter = shiftIndex == 0 ? 'A' : shiftIndex == 1 ? 'B' : 'C';
    const float ratio = kicks / static_cast<float>(total);
    const float rejectPercent = ratio * 100;
    const double passPercent = (1.0 - ratio) * 100.0;
    char text[256];
    std::snprintf(text, sizeof text,
                  "%c     总产量:%010" PRId64 "      剔除率:%02.5f%%      合格率:%2.5f%%   \n",
                  letter, total, static_cast<double>(rejectPercent), passPercent);
    // The statistics view reads these files as GBK, the target's local 8-bit encoding.
    QTextCodec *gbk = QTextCodec::codecForName("GBK");
    const QString line = QString::fromUtf8(text);
    return gbk ? gbk->fromUnicode(line) : line.toLocal8Bit();
}

int appendShiftStatistics(int64_t total, int shiftIndex, const std::array<float, kPositions> &kicks,
                          const std::array<bool, kPositions> &opened, const QDate &today)
{
    const bool newDay = g_last_shift == 2 || g_last_shift == kNoShiftWritten;
    int written = 0;
    for (int k = 0; k < kPositions; ++k) {
        if (!opened[k] || total < 1)
            continue;
        QFile file(StationPaths::statisticFile(k));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
            continue;
        QByteArray record;
        if (newDay)
            record += dayHeader(today);
        record += shiftLine(shiftIndex, total, kicks[k]);
        if (file.write(record) == record.size() && file.flush())
            ++written;
    }
    g_last_shift = shiftIndex;
    return written;
}

} // namespace ShiftStatistics
