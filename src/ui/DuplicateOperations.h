#pragma once
// The duplicate records of the history, from the main window's edit menu.

#include <QString>

namespace ui {

class MainWindow;

inline const QString kCaptionDuplicates = QStringLiteral("利用履歴(データベース内の重複レコード表示)");

// 重複レコード表示 (mnuRecordCheck): every history record that has a twin, in
// the grid (was basMain_RecordCheck).
void showDuplicates(MainWindow &window);
// 重複レコード削除 (mnuRecordDelete): the deletion dialog, modal (was basMain_RecordDelete).
void deleteDuplicates(MainWindow &window);
// True while the grid shows the duplicate records.
bool duplicatesShown(MainWindow &window);

} // namespace ui
