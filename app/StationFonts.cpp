#include "StationFonts.h"

#include <QFont>
#include <QStringList>

void StationFonts::install()
{
    // Tried in order; the first installed one is used. WenQuanYi Micro Hei comes with
    // scripts/install-deps.sh; the others are what a desktop may already have.
    QFont::insertSubstitutions(QStringLiteral("微软雅黑"),
                               {QStringLiteral("Microsoft YaHei"),
                                QStringLiteral("WenQuanYi Micro Hei"),
                                QStringLiteral("Noto Sans CJK SC")});
    QFont::insertSubstitutions(QStringLiteral("宋体"),
                               {QStringLiteral("SimSun"), QStringLiteral("AR PL UMing CN"),
                                QStringLiteral("WenQuanYi Micro Hei"),
                                QStringLiteral("Noto Serif CJK SC")});
}
