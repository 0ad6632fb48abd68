#pragma once
// "重複レコード削除": the user picks one card number that owns duplicate
// records and deletes that card's duplicates.

#include <QDialog>

class QComboBox;
class QLabel;
class QPushButton;

namespace ui {

class DeleteRowsDialog : public QDialog { // was frmDelRecord
    Q_OBJECT
public:
    explicit DeleteRowsDialog(QWidget *parent = nullptr);

    QLabel *lblText = nullptr;
    QLabel *lblCardNo = nullptr;
    QComboBox *cboCardNo = nullptr;
    QLabel *lblAttention = nullptr;
    QPushButton *btnOK = nullptr;
    QPushButton *btnCancel = nullptr;

    void frmDelRecord_Form_Load();
    void frmDelRecord_btnOK_Click();
    void frmDelRecord_btnCancel_Click();
};

} // namespace ui
