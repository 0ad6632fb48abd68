#pragma once
// Progress and 中止 of long work started from the window: the export, the
// statement, the registration, the delete and the duplicate display.

#include <QString>
#include <functional>

class QWidget;

namespace ui {

// The progress of a long piece of work: its label ("CSV出力中…",
// "標準印刷中…", "DB登録中…", ...), the part done and the total (0 when not
// known); false stops the work. It hears every progress report of the work
// (every few thousand rows, every page, every 50 ms of a statement). An
// empty handler restores the real one: a window-modal QProgressDialog with
// the button "中止", shown once the work takes a moment, which lets the
// window repaint about every 100 ms.
using ProgressHandler = std::function<bool(const QString &label, qint64 done, qint64 total)>;
void setProgressHandler(ProgressHandler handler);

// The progress of one piece of work, through the handler when there is one;
// the real window is modal to window (none: to the application).
std::function<bool(qint64 done, qint64 total)> progressOf(QWidget *window, const QString &label);
// The same for work whose end cannot be told in advance (one statement).
std::function<bool()> busyProgressOf(QWidget *window, const QString &label);

} // namespace ui
