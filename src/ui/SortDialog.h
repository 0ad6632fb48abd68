#pragma once
// "表示設定": newest or oldest passage first, for the grid, the statement
// and the CSV file.

#include <QDialog>

class QLabel;
class QPushButton;
class QRadioButton;

namespace ui {

class FrameControl;

class SortDialog : public QDialog { // was frmSetSort
    Q_OBJECT
public:
    explicit SortDialog(QWidget *parent = nullptr);

    QLabel *lblText = nullptr;
    QLabel *lblAttention = nullptr;
    FrameControl *fraSetSort = nullptr;
    QRadioButton *optPassDate[2] = {};
    QPushButton *btnOK = nullptr;
    QPushButton *btnCancel = nullptr;

    void frmSetSort_Form_Activate();
    void frmSetSort_btnOK_Click();
    void frmSetSort_btnCancel_Click();

protected:
    bool event(QEvent *event) override;
};

} // namespace ui
