#pragma once
// Procedures of the main window: the selection modes, the date/time check,
// the two locks, the card-number rule and the text box's focus rules.

#include "history/ViewCondition.h"

#include <QDateTime>
#include <QString>
#include <optional>

class QMenu;

namespace ui {

void basMain_SelectMode(qint16 index);
// True when the range is invalid and the user has been warned.
bool basMain_CheckDateTime();
void basMain_BanCardRead(bool enable);
void basMain_BanRecordCheck(bool enable);
// The card number the window's conditions select now.
QString basAccess_GetSelectCardNo();

// The view conditions as the window's controls show them now.
ViewSelection currentViewSelection();
// The date limit of a card read: the start date in range mode.
std::optional<QDate> cardReadDateLimit();

// A typed card number as the text box leaves it: empty stays empty, digits
// become the last 4 characters of "0000" followed by them, with full-width
// digits turned into their half-width forms; a text with anything else in it
// stays as it is (no card number: refused where it would be used).
QString normaliseCardNumber(const QString &typed);
// True when the box is chosen and holds something that is no card number
// (a letter, a blank): the user has been warned and the focus is in the box.
// The box takes digits only as they are typed; this catches a text put there
// by other means.
bool typedCardNumberRefused();

// Today at 00:00:00 and at 23:59:59 by the program's clock.
QDateTime todayStart();
QDateTime todayEnd();

// The range of the date/time condition as the pickers show it.
DateTimeRange selectedRange();

// The five menu items of output and duplicates, which the locks turn off.
void disableOutputMenuItems();

// A menu's own entry in the menu bar and its popup move together.
void setMenuEnabled(QMenu *menu, bool enabled);

void frmMain_cmdDateStart_Click();
void frmMain_cmdDateEnd_Click();
void frmMain_txtCardInput_GotFocus();
void frmMain_txtCardInput_LostFocus();

} // namespace ui
