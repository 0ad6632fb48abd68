#pragma once
// Steps the operations of the main window share: the command buttons and
// their menu twins, the empty grid, the polling restart.

#include <QString>

inline const QString kCaptionHistory = QStringLiteral("利用履歴");
inline const QString kNoData = QStringLiteral("該当データがありません。");

// Print, desktop print and CSV export, each button with its menu item.
void disableOutputCommands();
// Print and CSV export on; desktop print only while the relay unit is present.
void enableOutputCommands();

// Empties the staging table and shows the empty grid (count and sum 0).
void emptyStagingAndGrid();
// "DB読込" on if the history holds at least one row.
void enableDBReadIfHistory();
// The polling timer back at its one-second tick.
void restartPolling();
// Typed entry with nothing typed means all cards: switch to the list's "0000".
void useAllCardsIfNothingTyped();
// List entry on its first entry ("0000").
void selectAllCardsFromList();
