#pragma once
// "表示設定": newest or oldest passage first, for the grid, the statement
// and the CSV file.

#include <QDialog>

class QLabel;
class QPushButton;
class QRadioButton;

namespace ui {

class MainWindow;

class FrameControl;

class SortDialog : public QDialog { // was frmSetSort
    Q_OBJECT
public:
    // A dialog of the main window, which it updates.
    explicit SortDialog(MainWindow &window);

    QLabel *lblText = nullptr;
    QLabel *lblAttention = nullptr;
    FrameControl *fraSetSort = nullptr;
    QRadioButton *optPassDate[2] = {};
    QPushButton *btnOK = nullptr;
    QPushButton *btnCancel = nullptr;

    void showSavedOrder();
    void saveOrder();

protected:
    bool event(QEvent *event) override;

private:
    MainWindow &m_window;
};

} // namespace ui
