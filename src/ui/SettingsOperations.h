#pragma once

namespace ui {

// The settings menu and the help menu of the main window.

// 表示設定 (mnuView): the view-sort dialog, modal.
void basMain_ShowSetSort();
// 通信ポート設定 (mnuPort): the port settings dialog, modal.
void basMain_ShowSetComm();
// バージョン情報 (mnuAbout): the version dialog, modal.
void basMain_ShowAbout();

} // namespace ui
