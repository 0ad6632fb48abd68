#pragma once
// The main window's conditions: the selection modes, the date/time check,
// the two locks, the card-number rule and the text box's focus rules.

#include "history/ViewCondition.h"

#include <QDateTime>
#include <QString>
#include <optional>

class QMenu;

namespace ui {

class MainWindow;

// 全件選択 (0) or 日時指定 (1): the range's controls shown in range mode only
// (was basMain_SelectMode).
void showSelectMode(MainWindow &window, qint16 index);
// True when the range is invalid and the user has been warned
// (was basMain_CheckDateTime).
bool refuseReversedRange(MainWindow &window);
// The lock of a card read: the edit, settings and help menus and the
// conditions; locking also turns the output menu items off
// (was basMain_BanCardRead).
void setMenusAndConditionsEnabled(MainWindow &window, bool enable);
// The lock of the duplicate display and the dialogs: the conditions; locking
// also turns the output menu items off (was basMain_BanRecordCheck).
void setConditionsEnabled(MainWindow &window, bool enable);
// The card number the window's conditions select now.
QString selectedCardNumber(MainWindow &window);

// The view conditions as the window's controls show them now.
ViewSelection currentViewSelection(MainWindow &window);
// The date limit of a card read: the start date in range mode.
std::optional<QDate> cardReadDateLimit(MainWindow &window);

// A typed card number as the text box leaves it: empty stays empty, digits
// become the last 4 characters of "0000" followed by them, with full-width
// digits turned into their half-width forms; a text with anything else in it
// stays as it is (no card number: refused where it would be used).
QString normaliseCardNumber(const QString &typed);
// True when the box is chosen and holds something that is no card number
// (a letter, a blank): the user has been warned and the focus is in the box.
// The box takes digits only as they are typed; this catches a text put there
// by other means.
// After a warning about the card number: the focus in the box it is typed
// or chosen in, also once the command has ended.
void focusCardNumber(MainWindow &window);
bool typedCardNumberRefused(MainWindow &window);

// Today at 00:00:00 and at 23:59:59 by the program's clock.
QDateTime todayStart();
QDateTime todayEnd();

// The range of the date/time condition as the pickers show it.
DateTimeRange selectedRange(MainWindow &window);

// The five menu items of output and duplicates, which the locks turn off.
void disableOutputMenuItems(MainWindow &window);

// A menu's own entry in the menu bar and its popup move together.
void setMenuEnabled(QMenu *menu, bool enabled);

// 開始日時 and 終了日時: the start at today 00:00:00, the end at today 23:59:59.
void setRangeStartToToday(MainWindow &window);
void setRangeEndToToday(MainWindow &window);
// The card-number box got the focus by a click (typed entry chosen, its text
// selected) or lost it (the number normalised).
void cardInputFocused(MainWindow &window);
void cardInputLeft(MainWindow &window);

} // namespace ui
