#pragma once
// Duplicate records of the history: the card numbers that own copies of a
// passage, and the deletion of one card's copies. Both follow the date range
// of the view, as the duplicate display does; the grouping always covers the
// whole history.

#include "history/Database.h"
#include "history/HistoryWorker.h"
#include "history/ViewCondition.h"

#include <QString>
#include <QStringList>

namespace history {

// The card numbers of the rows under the duplicate condition (in the range
// when one is set), in order.
BoundStatement duplicateCardsStatement(const ViewQuery &view);

// The card numbers owning duplicate records, in order; rows without a card
// number are left out.
QStringList duplicateCardNumbers(const ViewQuery &view);

// Deletes the duplicate records of one card and returns how many rows went.
// Copies held by other cards stay; of a passage held by this card alone, the
// first registered copy stays. An empty card number deletes nothing. The
// duplicates shown must still be those of the history (see ShownRows.h):
// otherwise nothing is deleted and ShownRowsChanged is thrown.
int deleteDuplicates(const ViewQuery &view, const QString &cardNo, const KeepGoing &keepGoing = {});

// The master data's version as the version dialog shows it: "Ver " followed
// by MST_VER of the first row of VERSION, or "Ver ?.??" without a row.
QString masterVersionText();

} // namespace history
