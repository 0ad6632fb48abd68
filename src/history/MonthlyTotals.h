#pragma once
// The history shown in the grid added up per card and month of the passage.

#include <QList>
#include <QString>

struct MonthTotal {
    QString card;  // カードNO ("" for rows without one)
    QString month; // "YYYY/MM"
    qint64 count = 0;  // 件数: every row
    qint64 sum = 0;    // 合計金額: the yen amounts, by the grid's rule
    qint64 nonYen = 0; // 円以外件数: rows whose toll is not in yen (未確定, 度数, …)
};

namespace history {

// One grouped statement over the rows of the source (a select statement of
// the history, its order ignored), ordered by card number and month.
// Throws Failure when the store refuses it.
QList<MonthTotal> monthlyTotals(const QString &source);

} // namespace history
