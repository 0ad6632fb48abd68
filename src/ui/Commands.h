#pragma once
// Steps the operations of the main window share: the command buttons and
// their menu twins, the empty grid, the polling restart.

#include "app/Constants.h"
#include "history/ViewCondition.h"

#include <QString>
#include <functional>

class QWidget;
namespace history {
class HistoryGridModel;
}

namespace ui {

class MainWindow;

inline const QString kCaptionHistory = QStringLiteral("利用履歴");
inline const QString kNoData = QStringLiteral("該当データがありません。");

// Print, desktop print and CSV export, each button with its menu item.
void disableOutputCommands(MainWindow &window);
// Print and CSV export on; desktop print only while the relay unit is present.
void enableOutputCommands(MainWindow &window);

// The grid model attached to the window's MSHFlexGrid (created on first use).
history::HistoryGridModel *gridModel(MainWindow &window);
// Loads the grid from a statement or table in a layout (0 empty, 1 card read,
// 2 history) and shows the count and sum.
// With keepGoing, long work of the load lets the window live (see
// HistoryWorker.h).
void showGrid(MainWindow &window, const QString &source, qint16 viewType,
              const std::function<bool()> &keepGoing = {});
// The card-number list filled from the history, keeping the selected number
// where the history still holds it (was basMain_GetCardNo).
void fillCardNumbers(MainWindow &window);

// The status bar's word on the shared history's server: reachable, or not
// (since the last time it was tried); nothing without a server.
void showServerState(MainWindow &window);
// After the shared history's server answered the start's background try:
// the card-number list from the server, the user's choice (option, typed
// number, chosen card) kept. Waits while a modal window (a question, the
// progress of an operation) is open.
void refreshCardNumbersFromServer(MainWindow &window);

// Empties the staging table and shows the empty grid (count and sum 0).
void emptyStagingAndGrid(MainWindow &window);
// "DB読込" on if the history holds at least one row, or when the shared
// history's server cannot be reached (pressing it tries again).
void enableDBReadIfHistory(MainWindow &window);
// The polling timer back at its one-second tick.
void restartPolling(MainWindow &window);
// True while a card read is shown that is not registered (it would be lost
// by quitting).
bool cardReadNotRegistered(const MainWindow &window);
// The view the conditions select becomes the window's; returns its statement.
QString takeView(MainWindow &window, qint16 viewType, const ViewSelection &selection);
// Where the focus goes after a command: to preferred when it is enabled;
// otherwise it stays where it is unless that is 終了 or a disabled control,
// when it goes to the first enabled of DB登録, 標準印刷, DB読込, カード読込,
// else to the grid. Return then never ends the program by accident.
void focusNextUsefulControl(MainWindow &window, QWidget *preferred = nullptr);
// Typed entry with nothing typed means all cards: switch to the list's "0000".
void useAllCardsIfNothingTyped(MainWindow &window);
// List entry on its first entry ("0000").
void selectAllCardsFromList(MainWindow &window);
// The second line of a deletion's completion: "\r\n495件削除しました。".
inline QString deletedCountText(qint64 rows)
{
    return QStringLiteral("\r\n") + app::groupedNumber(rows) + QStringLiteral("件削除しました。");
}

} // namespace ui
