#include "ui/UiFonts.h"

#include <QFontDatabase>
#include <QStringList>

namespace ui {

namespace {
// Noto Sans CJK JP sets kana at a full em where the proportional Windows
// gothic narrows them; at 93 % of the point size the window's texts fit the
// label and button widths they were laid out for.
constexpr double kFallbackScale = 0.93;

QFont make(const QString &windowsFamily, const QString &windowsAlias, const QString &fallback, double pointSize)
{
    QFont f;
    const bool haveWindowsFont =
        QFontDatabase::hasFamily(windowsFamily) || QFontDatabase::hasFamily(windowsAlias);
    f.setFamilies({windowsFamily, windowsAlias, fallback, QStringLiteral("Noto Sans CJK JP")});
    f.setPointSizeF(haveWindowsFont ? pointSize : pointSize * kFallbackScale);
    return f;
}
} // namespace

QFont pGothicFont(double pointSize)
{
    return make(QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("MS PGothic"), QStringLiteral("Noto Sans CJK JP"),
                pointSize);
}

QFont gothicFont(double pointSize)
{
    return make(QStringLiteral("ＭＳ ゴシック"), QStringLiteral("MS Gothic"), QStringLiteral("Noto Sans Mono CJK JP"),
                pointSize);
}

} // namespace ui
