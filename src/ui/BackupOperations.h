#pragma once
// ファイル → バックアップ… and バックアップから戻す…: the command line's
// backup and restore, from the window, with the same refusals.

#include <QString>
#include <functional>

namespace ui {

class MainWindow;

void backUpHistory(MainWindow &window);
void restoreHistoryFromBackup(MainWindow &window);

// The file chosen to put back (empty: cancelled); tests replace the dialog.
using OpenBackupFileHandler = std::function<QString(const QString &initialFolder)>;
void setOpenBackupFileHandler(OpenBackupFileHandler handler);

} // namespace ui
