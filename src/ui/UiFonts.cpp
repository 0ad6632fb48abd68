#include "ui/UiFonts.h"

#include <QStringList>

static QFont make(const QStringList &families, double pointSize)
{
    QFont f;
    f.setFamilies(families);
    f.setPointSizeF(pointSize);
    return f;
}

QFont pGothicFont(double pointSize)
{
    return make({QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("MS PGothic"),
                 QStringLiteral("Noto Sans CJK JP"), QStringLiteral("Noto Sans JP")},
                pointSize);
}

QFont gothicFont(double pointSize)
{
    return make({QStringLiteral("ＭＳ ゴシック"), QStringLiteral("MS Gothic"),
                 QStringLiteral("Noto Sans Mono CJK JP"), QStringLiteral("Noto Sans CJK JP")},
                pointSize);
}
