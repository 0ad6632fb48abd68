#pragma once
// The settings menu and the help menu of the main window.

namespace ui {

class MainWindow;

// 表示設定 (mnuView): the view-sort dialog, modal (was basMain_ShowSetSort).
void showSortDialog(MainWindow &window);
// 通信ポート設定 (mnuPort): the port settings dialog, modal (was basMain_ShowSetComm).
void showPortSettings(MainWindow &window);
// バージョン情報 (mnuAbout): the version dialog, modal (was basMain_ShowAbout).
void showAbout(MainWindow &window);

} // namespace ui
