#pragma once
// The main window's operations on card data and the history: card read,
// screen clear, registration, database read and delete.

namespace ui {

class MainWindow;

// カード読込 (was basMain_CardRead).
void readCard(MainWindow &window);
// 画面消去 (was basMain_ViewCls).
void clearScreen(MainWindow &window);
// DB登録 (was basMain_DBEntry).
void registerCardRead(MainWindow &window);
// DB読込 (was basMain_DBRead).
void readHistory(MainWindow &window);
// DB削除 (was basMain_DBDelete).
void deleteShownRows(MainWindow &window);

} // namespace ui
