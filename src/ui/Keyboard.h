#pragma once
// Keyboard use of the windows: Tab walks the controls in the order of the
// layout and leaves lists and grids (the arrow keys move inside them), and
// Return presses the button that has the focus, as Space does.

#include <QList>

class QAbstractItemView;
class QDateEdit;
class QWidget;

namespace ui {

// The Tab order of a window: each control after the one before it.
void setTabOrderOf(const QList<QWidget *> &controls);

// Tab, Shift+Tab, Ctrl+Tab and Ctrl+Shift+Tab move to the next or previous
// control instead of the next cell.
void leaveOnTab(QAbstractItemView *view);
// A date or time picker is one Tab stop: Tab leaves it rather than moving
// between its sections (the arrow keys and typing still do).
void leaveSectionsOnTab(QWidget *picker);

// A click into picker selects the section clicked, and a whole date typed
// after a click or Tab ("2024/05/01", "2024/5/1", "20240501") becomes its
// date, whichever section the cursor was in.
void takeTypedDates(QDateEdit *picker);

// Return and Enter press each push button of window while it has the focus;
// the dialogs' default buttons keep their meaning elsewhere.
void pressFocusedButtonOnReturn(QWidget *window);

} // namespace ui
