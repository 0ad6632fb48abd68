#include "history/GridLoad.h"
#include "history/GridStatement.h"

namespace {

const QString kYen = QStringLiteral("円");

// An integer written in decimal with an optional sign; nothing else.
bool parseAmount(QStringView text, qint64 &value)
{
    if (text.isEmpty())
        return false;
    qsizetype i = 0;
    bool negative = false;
    if (text[0] == QLatin1Char('-') || text[0] == QLatin1Char('+')) {
        negative = text[0] == QLatin1Char('-');
        i = 1;
    }
    if (i == text.size())
        return false;
    qint64 v = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')
            return false;
        if (__builtin_mul_overflow(v, 10, &v) || __builtin_add_overflow(v, qint64(c - u'0'), &v))
            return false;
    }
    value = negative ? -v : v;
    return true;
}

} // namespace

void history::GridTotals::add(const QString &displayToll)
{
    ++count;
    if (!displayToll.endsWith(kYen))
        return;
    // A toll that is not a number counts as a record and adds nothing.
    qint64 amount = 0;
    if (!parseAmount(QStringView(displayToll).chopped(kYen.size()), amount))
        return;
    qint64 total = 0;
    if (__builtin_add_overflow(sum, amount, &total))
        return;
    sum = total;
}

namespace {
// The yen a group of n rows of one toll text adds to the sum: a toll ending
// in "円" adds its amount times n, the text before "円" as an optional sign
// and one to ten digits (a card's amount is 32-bit, so the sum of any
// history fits in 64 bits). Any other toll counts as a record and adds nothing.
QString yenOfGroup()
{
    const QString body = QStringLiteral("SUBSTR(通行料金,1,LENGTH(通行料金)-1)");
    const QString digits = QStringLiteral("(CASE WHEN SUBSTR(") + body + QStringLiteral(",1,1) IN ('-','+') THEN SUBSTR(") +
                           body + QStringLiteral(",2) ELSE ") + body + QStringLiteral(" END)");
    return QStringLiteral("CASE WHEN 通行料金 LIKE '%円' AND LENGTH(") + digits +
           QStringLiteral(") BETWEEN 1 AND 10 AND LTRIM(") + digits + QStringLiteral(",'0123456789')='' THEN n*CAST(") +
           body + QStringLiteral(" AS BIGINT) ELSE 0 END");
}

} // namespace

QString history::totalsOverCounts(const QString &counts)
{
    return QStringLiteral("SELECT SUM(n),SUM(") + yenOfGroup() + QStringLiteral(") FROM (") + counts +
           QStringLiteral(") AS t;");
}

QString history::gridTotalsSql(const QString &source)
{
    // The rows are counted per toll text first (an index of card, toll and
    // date answers that without reading the rows).
    return totalsOverCounts(QStringLiteral("SELECT 通行料金,COUNT(*) AS n FROM (") + splitStatement(source).base +
                            QStringLiteral(") AS g GROUP BY 通行料金"));
}

QString history::monthlyTotalsSql(const QString &source)
{
    // Counted per card, month and toll text first (the index of card, toll
    // and date/time holds every column read), then the yen rule of the
    // labels applied to each toll text of a month.
    const QString counts = QStringLiteral("SELECT カードNO,SUBSTR(DATE_TIME,1,7) AS ym,通行料金,COUNT(*) AS n FROM (") +
                           splitStatement(source).base +
                           QStringLiteral(") AS g GROUP BY カードNO,SUBSTR(DATE_TIME,1,7),通行料金");
    return QStringLiteral("SELECT カードNO AS card,ym,SUM(n) AS n,SUM(") + yenOfGroup() +
           QStringLiteral(") AS yen,SUM(CASE WHEN 通行料金 LIKE '%円' THEN 0 ELSE n END) AS other FROM (") + counts +
           QStringLiteral(") AS t GROUP BY カードNO,ym ORDER BY カードNO ASC,ym ASC;");
}
