#pragma once
// Loading the grid's rows and the card numbers of the history.

#include "history/HistoryWorker.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace history {

class HistoryGridModel;

// Record count and toll sum of a grid load.
struct GridTotals {
    qint64 count = 0;
    qint64 sum = 0;
    void add(const QString &displayToll);
};

// What a grid load gives the window: the count and sum for its labels and
// the column widths of the layout (empty for the empty grid).
struct GridLoad {
    GridTotals totals;
    QList<int> columnWidths; // pixels, one per shown column
    bool empty() const { return columnWidths.isEmpty(); }
};

// Fills the model with the shown columns of the source's rows (every column
// but the last, DATE_TIME, which only orders them) in layout viewType: 0 the
// empty grid, 1 a card read, 2 the history.
// With keepGoing, the long part of a duplicate display (grouping the whole
// history) runs without blocking the caller's thread (see HistoryWorker.h);
// a "no" loads nothing and throws WorkStopped.
GridLoad loadGrid(HistoryGridModel &model, const QString &source, qint16 viewType,
                  const KeepGoing &keepGoing = {});

// The statement that counts a source's rows and sums their tolls in yen, for
// the grid's labels.
QString gridTotalsSql(const QString &source);

// The statement that gives, per card number and month of the passage
// (DATE_TIME's "YYYY/MM"), the rows ("n"), their yen sum by the labels' rule
// ("yen") and the rows whose toll is not in yen ("other"), as columns card,
// ym, n, yen, other ordered by card and month: the months of a card add up
// to what history::gridTotalsSql gives for that card's rows.
QString monthlyTotalsSql(const QString &source);

// The card numbers the history holds, in order; rows without one are left out.
QStringList historyCardNumbers();

} // namespace history
