#include "history/MonthlyTotals.h"

#include "history/basAccess.h"
#include "history/basAccessGrid.h"

#include <QSqlQuery>

QList<MonthTotal> basAccess_MonthlyTotals(const QString &source)
{
    QList<MonthTotal> months;
    if (source.isEmpty())
        return months;
    QSqlQuery q = basAccess_Execute(DbConnection::History, basAccess_MonthlyTotalsSql(source));
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
