#pragma once
// 編集 → 削除した利用履歴を元に戻す: the deletions of DB削除 and 重複レコード削除
// that can still be undone, newest first; 元に戻す puts the chosen one back
// whole (see history/DeletedRows.h).

#include "history/DeletedRows.h"

#include <QDialog>

class QLabel;
class QPushButton;
class QTableWidget;

namespace ui {

class MainWindow;

class RestoreDeletedDialog : public QDialog { // was frmRestoreDeleted
    Q_OBJECT
public:
    // A dialog of the main window, which it updates.
    explicit RestoreDeletedDialog(MainWindow &window);

    QLabel *lblText = nullptr;
    QTableWidget *grdDeletions = nullptr;
    QPushButton *cmdRestore = nullptr;
    QPushButton *cmdClose = nullptr;

    // Reads the list again from the history.
    void reload();
    void restoreChosen();

private:
    QList<history::Deletion> m_deletions;
    MainWindow &m_window;
};

// The window, from the main window's menu (was basMain_ShowRestoreDeleted).
void showRestoreDeleted(MainWindow &window);

} // namespace ui
