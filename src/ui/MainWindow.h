#pragma once
// The main window. Controls carry the system's names as object names and are
// reachable as members, so the window's operations (src/ui), each given the
// window, can set them. The window only wires events to operations.

#include "history/ViewCondition.h"

#include <QMainWindow>
#include <QPointer>
#include <functional>

class QAction;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QStatusBar;
class QTableView;
class QTimeEdit;
class QTimer;

namespace ui {

class LineControl;
class FrameControl;

class MainWindow : public QMainWindow { // was frmMain
    Q_OBJECT
public:
    explicit MainWindow(QWidget *parent = nullptr);

    // Client area of the window in pixels (13815 x 8895 twips).
    static constexpr int kClientWidth = 921;
    static constexpr int kClientHeight = 593;

    QWidget *client = nullptr;

    // The rows the grid shows and their toll sum: the labels say them, and
    // commands ask shownCount() (never the labels' text).
    void showTotals(qint64 count, qint64 sum);
    qint64 shownCount() const { return m_shownCount; }
    // What the grid shows: every output, delete and re-sort reproduces it.
    history::ViewQuery view;
    // A card read talks to the reader (its end shows what it read).
    bool cardReadRunning() const { return m_cardReadRunning; }
    void setCardReadRunning(bool running) { m_cardReadRunning = running; }
    // The printer the statements went to last in this run.
    QString statementPrinter;

    // Where the focus goes when the command that runs ends (a warning about
    // the card number leaves it in the card-number box); cleared once used.
    QPointer<QWidget> focusAfterCommand;

    // Card-number condition
    FrameControl *fraCardNo = nullptr;
    QRadioButton *optCardNo[2] = {};
    QLineEdit *txtCardInput = nullptr;
    QComboBox *cboCardSelect = nullptr;

    // Date/time condition
    FrameControl *fraSelectMode = nullptr;
    QRadioButton *optSelectMode[2] = {};
    QPushButton *cmdDateStart = nullptr;
    QDateEdit *dtpDateStart = nullptr;
    QTimeEdit *dtpTimeStart = nullptr;
    QPushButton *cmdDateEnd = nullptr;
    QDateEdit *dtpDateEnd = nullptr;
    QTimeEdit *dtpTimeEnd = nullptr;

    // History grid
    FrameControl *fraHFlexGrid = nullptr;
    QTableView *MSHFlexGrid = nullptr;

    // Command column
    FrameControl *fraETCCard = nullptr;
    FrameControl *fraDB = nullptr;
    FrameControl *fraPrint = nullptr;
    FrameControl *fraWork = nullptr;
    QPushButton *btnCardRead = nullptr;
    QPushButton *btnViewCls = nullptr;
    QPushButton *btnDBEntry = nullptr;
    QPushButton *btnDBRead = nullptr;
    QPushButton *btnDBDelete = nullptr;
    QPushButton *btnPrintDefault = nullptr;
    QPushButton *btnPrintDesktop = nullptr;
    QPushButton *btnCSVOutput = nullptr;
    QPushButton *btnExit = nullptr;

    // Status row
    QLabel *lblCardStatus = nullptr;
    QLabel *lblCardValue = nullptr;
    QLabel *lblCount = nullptr;
    QLabel *lblCountValue = nullptr;
    QLabel *lblSumMoney = nullptr;
    QLabel *lblSumValue = nullptr;
    QLabel *lblPrinter = nullptr;
    QComboBox *cboPrinter = nullptr;

    QProgressBar *ProgressBar = nullptr;
    QStatusBar *StatusBar = nullptr;
    QLabel *lblServerState = nullptr;
    LineControl *LineA = nullptr;
    LineControl *LineB = nullptr;
    QTimer *TimerPolling = nullptr;

    // Menus
    QMenu *mnuFile = nullptr;
    QAction *mnuCSVOutput = nullptr;
    QAction *mnuMonthlyTotals = nullptr;
    QAction *mnuCSVImport = nullptr;
    QAction *mnuBackup = nullptr;
    QAction *mnuRestoreBackup = nullptr;
    QAction *mnuBarF1 = nullptr;
    QAction *mnuPrintDefault = nullptr;
    QAction *mnuPrintDesktop = nullptr;
    QAction *mnuBarF2 = nullptr;
    QAction *mnuExit = nullptr;
    QMenu *mnuEdit = nullptr;
    QAction *mnuRecordCheck = nullptr;
    QAction *mnuRecordDelete = nullptr;
    QAction *mnuRestoreDeleted = nullptr;
    QMenu *mnuConfig = nullptr;
    QAction *mnuView = nullptr;
    QAction *mnuPort = nullptr;
    QMenu *mnuHelp = nullptr;
    QAction *mnuAbout = nullptr;

    // The load and unload events. The program's start and end sequences are
    // hooked in here by whoever creates the window.
    std::function<void()> onLoad;
    std::function<void()> onUnload;
    // Asked before the window closes by the user's wish (終了, the menu, the
    // window's own close): false keeps it open. Not asked at a logout.
    std::function<bool()> confirmClose;

    // Runs the load event (the start sequence) before the window is shown.
    void load();

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    qint64 m_shownCount = 0;
    bool m_cardReadRunning = false;
    void buildControls();
    void buildHistoryAndCommands(QWidget *client);
    void buildStatusRow(QWidget *client, const QFont &font);
    void layOut();
    void buildMenus();
    void wireEvents();
};

} // namespace ui
