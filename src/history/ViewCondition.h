#pragma once
// The view conditions of the window and the statements built from them.
// What the grid shows is app::state().view (app/ProgramState.h): only
// history::viewStatement fills it.

#include "app/DateTimeRange.h"
#include "app/ProgramState.h"

#include <QString>

// The view conditions as the main window's controls show them, handed to the
// statement builders, the staging and the card-number rule.
struct ViewSelection {
    qint16 CardNoMode = 0;  // checked card-number option: 0 typed, 1 list, -1 none
    QString TypedCardNo;    // the text box
    QString ListCardNo;     // the list's shown entry
    qint16 SelectMode = 0;  // checked date/time option: 0 all records, 1 range, -1 none
    DateTimeRange Range;    // the pickers
};

namespace history {

// Back to the empty record the program starts with.
void resetViewCondition();

// The card number the conditions select: the typed text or the list entry,
// "0000" when that is empty.
QString selectedCardNo(const ViewSelection &selection);

// Statement builders. Values from the window go between quotes with their
// quotes doubled.
QString viewStatement(const QString &tableName, qint16 viewType, const ViewSelection &selection);
QString shownViewSql(const QString &tableName, const QString &mode);
QString duplicatesSql(const QString &cardNo, const QString &mode);

} // namespace history
