#pragma once
// "重複レコード削除": the user picks one card number that owns duplicate
// records and deletes that card's duplicates.

#include <QDialog>

class QComboBox;
class QLabel;
class QPushButton;

namespace ui {

class MainWindow;

class DeleteRowsDialog : public QDialog { // was frmDelRecord
    Q_OBJECT
public:
    // A dialog of the main window, which it updates.
    explicit DeleteRowsDialog(MainWindow &window);

    QLabel *lblText = nullptr;
    QLabel *lblCardNo = nullptr;
    QComboBox *cboCardNo = nullptr;
    QLabel *lblAttention = nullptr;
    QPushButton *btnOK = nullptr;
    QPushButton *btnCancel = nullptr;

    void load();
    void deleteDuplicatesOfChosenCard();

private:
    MainWindow &m_window;
};

} // namespace ui
