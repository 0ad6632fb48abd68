#include "history/MonthlyTotals.h"

#include "history/Database.h"
#include "history/GridLoad.h"

#include <QRegularExpression>
#include <QSqlQuery>

QList<MonthTotal> history::monthlyTotals(const QString &source)
{
    QList<MonthTotal> months;
    if (source.isEmpty())
        return months;
    QString sql = history::monthlyTotalsSql(source);
    // SQLite takes the date/time index for a range and then reads every row
    // of it from the table; the month index alone answers several times faster.
    if (history::route(DbConnection::History, source) == DbConnection::History) {
        static const QRegularExpression table(QStringLiteral("\\bFROM ETC_DATA\\b"));
        const QRegularExpressionMatch found = table.match(sql);
        if (found.hasMatch())
            sql.insert(found.capturedEnd(), QStringLiteral(" INDEXED BY ETC_DATA_MONTHS"));
    }
    QSqlQuery q = history::execute(DbConnection::History, sql);
    while (q.next()) {
        MonthTotal m;
        m.card = q.value(0).toString();
        m.month = q.value(1).toString();
        m.count = q.value(2).toLongLong();
        m.sum = q.value(3).toLongLong();
        m.nonYen = q.value(4).toLongLong();
        months << m;
    }
    return months;
}
