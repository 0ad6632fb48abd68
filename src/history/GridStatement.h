#pragma once
// The grid's statement taken apart, and the aggregates over it: internal to
// the history's grid and totals.

#include <QList>
#include <QString>
#include <QVariant>

namespace history {

struct OrderTerm {
    QString column;
    bool descending = false;
};

// A grid statement taken apart: the statement without its ORDER BY (and
// without its ";"), and the terms of the ORDER BY.
struct GridStatement {
    QString base;
    QList<OrderTerm> terms;
};

GridStatement splitStatement(const QString &source);

// The count and yen sum over "SELECT 通行料金, <count> AS n ... GROUP BY 通行料金".
QString totalsOverCounts(const QString &counts);

} // namespace history
