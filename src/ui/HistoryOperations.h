#pragma once

namespace ui {

// The main window's operations on card data and the history: card read,
// screen clear, registration, database read and delete.

void basMain_CardRead();
void basMain_ViewCls();
void basMain_DBEntry();
void basMain_DBRead();
void basMain_DBDelete();

} // namespace ui
