#pragma once
// "通信ポート設定": the reader's port number, chosen from Com1 to Com16 or found
// by the automatic search, saved as app::runSettings().comPort. Polling stops while it is open.

#include "reader/ReaderSearch.h"

#include <QDialog>

class QComboBox;
class QLabel;
class QPushButton;

namespace ui {

class MainWindow;

class PortSettingsDialog : public QDialog { // was frmSetComm
    Q_OBJECT
public:
    // A dialog of the main window, which it updates.
    explicit PortSettingsDialog(MainWindow &window);

    QComboBox *cboPort = nullptr;
    QLabel *lblPort = nullptr;
    QLabel *lblDevice = nullptr; // the device the selected number means (not on Windows)
    QPushButton *btnETCSearch = nullptr;
    QPushButton *btnOK = nullptr;
    QPushButton *btnCancel = nullptr;
    QLabel *lblAttention = nullptr;
    QLabel *lblText = nullptr;

    void load();
    void unload();
    void searchReader();
    void useChosenPort();

    void done(int result) override;

    // The reader search runs (the dialog takes no input meanwhile).
    bool searching() const { return m_searching; }

private:
    void showSearchResult(const reader::ReaderSearchResult &result);
    void selectPort(int port);
    void showDevice();
    bool m_unloaded = false;
    bool m_searching = false;
    MainWindow &m_window;
};

} // namespace ui
