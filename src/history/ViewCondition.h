#pragma once
// The view conditions of the window and the statements built from them.

#include "app/DateTimeRange.h"

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

// What a view shows, so that print, export, delete and re-sort reproduce the
// same rows: made by history::viewQuery from the window's conditions, kept by
// whoever shows the rows (the main window) and handed to every output.
struct ViewQuery {
    qint16 viewType = 0; // 0 nothing, 1 the staging table (a card read), 2 the history
    bool ranged = false; // only rows in the date/time range
    QString cardNo;      // a history view's card number, "0000" = all cards
    QString start;       // "YYYY/MM/DD-HH:MM:SS" when ranged
    QString end;
};

// The view the conditions select for a view of viewType.
ViewQuery viewQuery(qint16 viewType, const ViewSelection &selection);

// The card number the conditions select: the typed text or the list entry,
// "0000" when that is empty.
QString selectedCardNo(const ViewSelection &selection);

// Statement builders. Values from the window go between quotes with their
// quotes doubled.
QString viewStatement(const QString &tableName, const ViewQuery &view);
QString shownViewSql(const ViewQuery &view, const QString &tableName, const QString &mode);
QString duplicatesSql(const ViewQuery &view, const QString &cardNo, const QString &mode);

} // namespace history
