#include "ui/MainWindow.h"
#include "ui/CommandGuard.h"
#include "ui/AnchoredLayout.h"
#include "ui/BackupOperations.h"
#include "ui/MainWindowAids.h"
#include "ui/MonthlyTotalsWindow.h"
#include "ui/RestoreDeletedDialog.h"

#include "app/Constants.h"
#include "reader/CardReader.h"
#include "ui/DuplicateOperations.h"
#include "ui/FrameControl.h"
#include "ui/Keyboard.h"
#include "ui/ImportOperations.h"
#include "ui/LineControl.h"
#include "ui/ReportOperations.h"
#include "ui/SettingsOperations.h"
#include "ui/Twips.h"
#include "ui/UiFonts.h"
#include "ui/HistoryOperations.h"
#include "ui/Conditions.h"
#include "ui/DesktopPrintDialog.h"

#include <QFocusEvent>
#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateEdit>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QStatusBar>
#include <QTableView>
#include <QTimeEdit>
#include <QTimer>

namespace ui {

namespace {
FrameControl *frame(QWidget *parent, const char *name, const QString &caption, double l, double t, double w,
                 double h)
{
    auto *box = place(new FrameControl(caption, parent), name, l, t, w, h);
    box->setFont(pGothicFont(11.25));
    return box;
}

QPushButton *button(QWidget *parent, const char *name, const QString &caption, double l, double t,
                    double w, double h, double pt = 11.25)
{
    auto *b = place(new QPushButton(caption, parent), name, l, t, w, h);
    b->setFont(pGothicFont(pt));
    b->setAutoDefault(false);
    return b;
}

QLabel *label(QWidget *parent, const char *name, const QString &text, double l, double t, double w,
              bool bordered = false, Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter)
{
    auto *lbl = place(new QLabel(text, parent), name, l, t, w, 330);
    lbl->setFont(pGothicFont(11.25));
    lbl->setAlignment(align);
    if (bordered) {
        lbl->setFrameShape(QFrame::Panel);
        lbl->setFrameShadow(QFrame::Sunken);
        lbl->setMargin(2);
    }
    return lbl;
}
} // namespace

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("PASSLOG"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);
    client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    client->resize(kClientWidth, kClientHeight);
    buildControls();
    layOut();
    setCentralWidget(client);
    buildMenus();
    wireEvents();
    addCommandMenu(*this);
    addTooltips(*this);
    addGuideMenuItem(*this);
    // Tab follows the layout: each option, then what it governs (the start
    // and the end of the range, each button, date, time), the grid (left by
    // Tab; the arrow keys move inside), the command column top to bottom,
    // the printer list. Return presses the focused button.
    setTabOrderOf({optCardNo[0], txtCardInput, optCardNo[1], cboCardSelect, optSelectMode[0], optSelectMode[1],
                   cmdDateStart, dtpDateStart, dtpTimeStart, cmdDateEnd, dtpDateEnd, dtpTimeEnd, MSHFlexGrid,
                   btnCardRead, btnViewCls, btnDBEntry, btnDBRead, btnDBDelete, btnPrintDefault, btnPrintDesktop,
                   btnCSVOutput, btnExit, cboPrinter});
    leaveOnTab(MSHFlexGrid);
    for (QWidget *picker : {static_cast<QWidget *>(dtpDateStart), static_cast<QWidget *>(dtpTimeStart),
                            static_cast<QWidget *>(dtpDateEnd), static_cast<QWidget *>(dtpTimeEnd)})
        leaveSectionsOnTab(picker);
    takeTypedDates(dtpDateStart);
    takeTypedDates(dtpDateEnd);
    pressFocusedButtonOnReturn(this);
    // Opens at its designed size; may be enlarged (the grid takes the space),
    // never made smaller.
    resize(kClientWidth, kClientHeight + menuBar()->sizeHint().height());
    setMinimumSize(size());
}

void MainWindow::layOut()
{
    const QSize designed(kClientWidth, kClientHeight);
    // The grid grows with its frame; the frame with the window.
    auto *history = new AnchoredLayout(fraHFlexGrid, fraHFlexGrid->size());
    history->addAnchored(MSHFlexGrid, AnchoredLayout::All);
    auto *layout = new AnchoredLayout(client, designed);
    layout->addAnchored(fraHFlexGrid, AnchoredLayout::All);
    // The command column keeps to the right edge.
    for (QWidget *w : {(QWidget *)fraETCCard, (QWidget *)fraDB, (QWidget *)fraPrint, (QWidget *)fraWork,
                       (QWidget *)btnCardRead, (QWidget *)btnViewCls, (QWidget *)btnDBEntry, (QWidget *)btnDBRead,
                       (QWidget *)btnDBDelete, (QWidget *)btnPrintDefault, (QWidget *)btnPrintDesktop,
                       (QWidget *)btnCSVOutput, (QWidget *)btnExit})
        layout->addAnchored(w, AnchoredLayout::Right | AnchoredLayout::Top);
    // The status row, the progress bar and the status bar keep to the bottom.
    for (QWidget *w : {(QWidget *)lblCardStatus, (QWidget *)lblCardValue, (QWidget *)lblCount,
                       (QWidget *)lblCountValue, (QWidget *)lblSumMoney, (QWidget *)lblSumValue, (QWidget *)lblPrinter,
                       (QWidget *)ProgressBar})
        layout->addAnchored(w, AnchoredLayout::Left | AnchoredLayout::Bottom);
    layout->addAnchored(cboPrinter, AnchoredLayout::Left | AnchoredLayout::Bottom);
    layout->addAnchored(StatusBar, AnchoredLayout::Left | AnchoredLayout::Right | AnchoredLayout::Bottom);
    // The lines under the menu follow the width by themselves.
    layout->addTheRest({LineA, LineB});
}

void MainWindow::buildControls()
{
    QWidget *c = client;
    const QFont font = pGothicFont(11.25);

    LineA = new LineControl(c);
    LineA->setObjectName(QStringLiteral("LineA"));
    LineB = new LineControl(c);
    LineB->setObjectName(QStringLiteral("LineB"));

    // Card number
    fraCardNo = frame(c, "fraCardNo", QStringLiteral("カードNO"), 120, 120, 2055, 1095);
    optCardNo[0] = place(new QRadioButton(QStringLiteral("入力"), fraCardNo), "optCardNo(0)", 120, 240, 780, 330);
    optCardNo[1] = place(new QRadioButton(QStringLiteral("選択"), fraCardNo), "optCardNo(1)", 120, 600, 780, 330);
    txtCardInput = place(new QLineEdit(fraCardNo), "txtCardInput", 960, 240, 615, 330);
    txtCardInput->setMaxLength(4);
    // Digits only, half- or full-width (an input method's "１２" is card 0012).
    txtCardInput->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9\\x{FF10}-\\x{FF19}]{0,4}")), txtCardInput));
    txtCardInput->setFont(gothicFont(12));
    cboCardSelect = place(new QComboBox(fraCardNo), "cboCardSelect", 960, 600, 855, 360);
    cboCardSelect->setFont(gothicFont(12));

    // Date/time condition
    fraSelectMode = frame(c, "fraSelectMode", QStringLiteral("選択条件"), 2280, 120, 6924.24, 1095);
    optSelectMode[0] = place(new QRadioButton(QStringLiteral("全件選択"), fraSelectMode), "optSelectMode(0)",
                             120, 240, 1350, 330);
    optSelectMode[1] = place(new QRadioButton(QStringLiteral("日時指定"), fraSelectMode), "optSelectMode(1)",
                             120, 600, 1350, 330);
    for (QRadioButton *o : {optCardNo[0], optCardNo[1], optSelectMode[0], optSelectMode[1]})
        o->setFont(font);
    cmdDateStart = button(fraSelectMode, "cmdDateStart", QStringLiteral("開始日時"), 1440, 240, 855, 330, 8.25);
    dtpDateStart = place(new QDateEdit(fraSelectMode), "dtpDateStart", 2400, 240, 1575, 330);
    dtpTimeStart = place(new QTimeEdit(fraSelectMode), "dtpTimeStart", 2400, 600, 1335, 330);
    cmdDateEnd = button(fraSelectMode, "cmdDateEnd", QStringLiteral("終了日時"), 4080, 240, 855, 330, 8.25);
    dtpDateEnd = place(new QDateEdit(fraSelectMode), "dtpDateEnd", 5040, 240, 1575, 330);
    dtpTimeEnd = place(new QTimeEdit(fraSelectMode), "dtpTimeEnd", 5040, 600, 1335, 330);
    for (QDateEdit *d : {dtpDateStart, dtpDateEnd}) {
        d->setDisplayFormat(QStringLiteral("yyyy/MM/dd"));
        d->setCalendarPopup(true);
        d->setFont(gothicFont(11.25));
    }
    for (QTimeEdit *t : {dtpTimeStart, dtpTimeEnd}) {
        t->setDisplayFormat(QStringLiteral("HH:mm:ss"));
        t->setFont(gothicFont(11.25));
    }
    dtpTimeStart->setTime(QTime(0, 0, 0));
    dtpTimeEnd->setTime(QTime(23, 59, 59));

    buildHistoryAndCommands(c);
    buildStatusRow(c, font);

    TimerPolling = new QTimer(this);
    TimerPolling->setObjectName(QStringLiteral("TimerPolling"));
}

// The history grid and the command column beside it.
void MainWindow::buildHistoryAndCommands(QWidget *c)
{
    // History
    fraHFlexGrid = frame(c, "fraHFlexGrid", QStringLiteral("利用履歴"), 120, 1320, 11895, 6735);
    MSHFlexGrid = place(new QTableView(fraHFlexGrid), "MSHFlexGrid", 120, 240, 11655, 6375);
    MSHFlexGrid->setFont(pGothicFont(9));
    MSHFlexGrid->setSelectionBehavior(QAbstractItemView::SelectRows);
    MSHFlexGrid->setSelectionMode(QAbstractItemView::SingleSelection);
    MSHFlexGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    MSHFlexGrid->verticalHeader()->setDefaultSectionSize(20);
    MSHFlexGrid->setWordWrap(false);

    // Command column: frames behind the buttons
    fraETCCard = frame(c, "fraETCCard", QStringLiteral("ETCカード"), 12120, 1320, 1575, 1455);
    fraDB = frame(c, "fraDB", QStringLiteral("データベース"), 12120, 2880, 1575, 2055);
    fraPrint = frame(c, "fraPrint", QStringLiteral("印刷"), 12120, 5040, 1575, 1455);
    fraWork = frame(c, "fraWork", QStringLiteral("その他機能"), 12120, 6600, 1575, 1455);
    btnCardRead = button(c, "btnCardRead", QStringLiteral("カード読込"), 12240, 1560, 1335, 495);
    btnViewCls = button(c, "btnViewCls", QStringLiteral("画面消去"), 12240, 2160, 1335, 495);
    btnDBEntry = button(c, "btnDBEntry", QStringLiteral("DB登録"), 12240, 3120, 1335, 495);
    btnDBRead = button(c, "btnDBRead", QStringLiteral("DB読込"), 12240, 3720, 1335, 495);
    btnDBDelete = button(c, "btnDBDelete", QStringLiteral("DB削除"), 12240, 4320, 1335, 495);
    btnPrintDefault = button(c, "btnPrintDefault", QStringLiteral("標準印刷"), 12240, 5280, 1335, 495);
    btnPrintDesktop = button(c, "btnPrintDesktop", QStringLiteral("卓上印刷"), 12240, 5880, 1335, 495);
    btnCSVOutput = button(c, "btnCSVOutput", QStringLiteral("CSV出力"), 12240, 6840, 1335, 495);
    btnExit = button(c, "btnExit", QStringLiteral("終了"), 12240, 7440, 1335, 495);

}

// The status row, the status bar and the progress bar at the bottom.
void MainWindow::buildStatusRow(QWidget *c, const QFont &font)
{
    // Status row
    const Qt::Alignment right = Qt::AlignRight | Qt::AlignVCenter;
    lblCardStatus = label(c, "lblCardStatus", QStringLiteral("カード状況"), 120, 8160, 1095);
    lblCardValue = label(c, "lblCardValue", QStringLiteral("未接続"), 1200, 8160, 2895, true);
    lblCount = label(c, "lblCount", QStringLiteral("件数"), 4200, 8160, 495);
    lblCountValue = label(c, "lblCountValue", app::recordCountText(0), 4680, 8160, 1215, true, right);
    lblSumMoney = label(c, "lblSumMoney", QStringLiteral("合計金額"), 6000, 8160, 975);
    lblSumValue = label(c, "lblSumValue", QStringLiteral("0円"), 6960, 8160, 1455, true, right);
    lblPrinter = label(c, "lblPrinter", QStringLiteral("プリンタ"), 8520, 8160, 975);
    cboPrinter = place(new QComboBox(c), "cboPrinter", 9360, 8145, 4290, 360);
    cboPrinter->setFont(font);
    lblCountValue->setFont(gothicFont(11.25));
    lblSumValue->setFont(gothicFont(11.25));

    StatusBar = new QStatusBar(c);
    StatusBar->setObjectName(QStringLiteral("StatusBar"));
    StatusBar->setSizeGripEnabled(false);
    StatusBar->setGeometry(0, kClientHeight - 20, kClientWidth, 20);
    auto *copyright = new QLabel(QStringLiteral("Copyright (C) PASSLOG"), StatusBar);
    copyright->setFont(pGothicFont(9));
    StatusBar->addWidget(copyright, 1);
    // Whether the shared history's server answers (empty without one).
    lblServerState = new QLabel(StatusBar);
    lblServerState->setObjectName(QStringLiteral("lblServerState"));
    lblServerState->setFont(pGothicFont(9));
    StatusBar->addPermanentWidget(lblServerState);

    ProgressBar = place(new QProgressBar(c), "ProgressBar", 12, 8640, 9935, 245);
    ProgressBar->setTextVisible(false);
    ProgressBar->raise();
}

void MainWindow::buildMenus()
{
    QMenuBar *bar = menuBar();
    bar->setFont(pGothicFont(9));
    auto menu = [&](const char *name, const QString &title) {
        QMenu *m = bar->addMenu(title);
        m->setObjectName(QString::fromLatin1(name));
        m->menuAction()->setObjectName(QString::fromLatin1(name));
        return m;
    };
    auto item = [&](QMenu *m, const char *name, const QString &text) {
        QAction *a = m->addAction(text);
        a->setObjectName(QString::fromLatin1(name));
        return a;
    };
    auto separator = [&](QMenu *m, const char *name) {
        QAction *a = m->addSeparator();
        a->setObjectName(QString::fromLatin1(name));
        return a;
    };
    mnuFile = menu("mnuFile", QStringLiteral("ファイル(&F)"));
    mnuCSVOutput = item(mnuFile, "mnuCSVOutput", QStringLiteral("CSV出力(&C)"));
    mnuCSVImport = item(mnuFile, "mnuCSVImport", QStringLiteral("CSV取込(&I)"));
    mnuMonthlyTotals = item(mnuFile, "mnuMonthlyTotals", QStringLiteral("月別集計(&M)"));
    mnuMonthlyTotals->setEnabled(false); // a database read shows what it adds up
    mnuBackup = item(mnuFile, "mnuBackup", QStringLiteral("バックアップ(&B)…"));
    mnuRestoreBackup = item(mnuFile, "mnuRestoreBackup", QStringLiteral("バックアップから戻す(&R)…"));
    mnuBarF1 = separator(mnuFile, "mnuBarF1");
    mnuPrintDefault = item(mnuFile, "mnuPrintDefault", QStringLiteral("標準印刷(&P)"));
    mnuPrintDesktop = item(mnuFile, "mnuPrintDesktop", QStringLiteral("卓上プリンタ印刷(&D)"));
    mnuBarF2 = separator(mnuFile, "mnuBarF2");
    mnuExit = item(mnuFile, "mnuExit", QStringLiteral("終了(&X)"));
    mnuEdit = menu("mnuEdit", QStringLiteral("編集(&E)"));
    mnuRecordCheck = item(mnuEdit, "mnuRecordCheck", QStringLiteral("重複レコード表示(&R)"));
    mnuRecordDelete = item(mnuEdit, "mnuRecordDelete", QStringLiteral("重複レコード削除(&D)"));
    mnuRestoreDeleted = item(mnuEdit, "mnuRestoreDeleted", QStringLiteral("削除した利用履歴を元に戻す"));
    mnuConfig = menu("mnuConfig", QStringLiteral("設定(&C)"));
    mnuView = item(mnuConfig, "mnuView", QStringLiteral("表示設定(&V)"));
    mnuPort = item(mnuConfig, "mnuPort", QStringLiteral("通信ポート設定(&P)"));
    mnuHelp = menu("mnuHelp", QStringLiteral("ヘルプ(&H)"));
    mnuAbout = item(mnuHelp, "mnuAbout", QStringLiteral("バージョン情報(&A)"));
}

void MainWindow::wireEvents()
{
    connect(TimerPolling, &QTimer::timeout, this, [] { guarded(app::Procedure::PollReader, [] { reader::pollReader(); }); });
    connect(btnCardRead, &QPushButton::clicked, this, [this] { readCard(*this); });
    connect(btnViewCls, &QPushButton::clicked, this, [this] { clearScreen(*this); });
    connect(btnDBEntry, &QPushButton::clicked, this, [this] { registerCardRead(*this); });
    connect(btnDBRead, &QPushButton::clicked, this, [this] { readHistory(*this); });
    connect(btnDBDelete, &QPushButton::clicked, this, [this] { deleteShownRows(*this); });
    connect(btnPrintDefault, &QPushButton::clicked, this, [this] { printStatement(*this); });
    connect(mnuPrintDefault, &QAction::triggered, this, [this] { printStatement(*this); });
    connect(btnPrintDesktop, &QPushButton::clicked, this, [this] { printOnDesktopPrinter(*this); });
    connect(mnuPrintDesktop, &QAction::triggered, this, [this] { printOnDesktopPrinter(*this); });
    connect(btnCSVOutput, &QPushButton::clicked, this, [this] { exportCsv(*this); });
    connect(mnuCSVOutput, &QAction::triggered, this, [this] { exportCsv(*this); });
    connect(mnuMonthlyTotals, &QAction::triggered, this, [this] { showMonthlyTotals(*this); });
    connect(mnuCSVImport, &QAction::triggered, this, [this] { importCsvFiles(*this); });
    connect(mnuBackup, &QAction::triggered, this, [this] { backUpHistory(*this); });
    connect(mnuRestoreBackup, &QAction::triggered, this, [this] { restoreHistoryFromBackup(*this); });
    connect(mnuRecordCheck, &QAction::triggered, this, [this] { showDuplicates(*this); });
    connect(mnuRecordDelete, &QAction::triggered, this, [this] { deleteDuplicates(*this); });
    connect(mnuRestoreDeleted, &QAction::triggered, this, [this] { showRestoreDeleted(*this); });
    connect(mnuView, &QAction::triggered, this, [this] { showSortDialog(*this); });
    connect(mnuPort, &QAction::triggered, this, [this] { showPortSettings(*this); });
    connect(mnuAbout, &QAction::triggered, this, [this] { showAbout(*this); });
    connect(btnExit, &QPushButton::clicked, this, &QWidget::close);
    connect(mnuExit, &QAction::triggered, this, &QWidget::close);
    for (int i = 0; i < 2; ++i)
        connect(optSelectMode[i], &QRadioButton::clicked, this, [this, i] { showSelectMode(*this, qint16(i)); });
    connect(cmdDateStart, &QPushButton::clicked, this, [this] { setRangeStartToToday(*this); });
    connect(cmdDateEnd, &QPushButton::clicked, this, [this] { setRangeEndToToday(*this); });
    // Choosing an entry of the list switches to list entry, also when it is
    // the entry the list already shows (filling the list does the same).
    connect(cboCardSelect, &QComboBox::activated, this, [this] { optCardNo[1]->setChecked(true); });
    txtCardInput->installEventFilter(this);
    connect(txtCardInput, &QLineEdit::textEdited, this, [this] { optCardNo[0]->setChecked(true); });
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == txtCardInput) {
        // Tabbing through the card group leaves the choice of 入力 or 選択
        // as it was (typing then chooses 入力); a click chooses 入力 at once.
        const auto reason = event->type() == QEvent::FocusIn ? static_cast<QFocusEvent *>(event)->reason()
                                                             : Qt::OtherFocusReason;
        if (event->type() == QEvent::FocusIn && (reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason))
            txtCardInput->selectAll();
        else if (event->type() == QEvent::FocusIn)
            cardInputFocused(*this);
        else if (event->type() == QEvent::FocusOut)
            cardInputLeft(*this);
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::load()
{
    if (onLoad)
        onLoad();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (confirmClose && !confirmClose()) {
        event->ignore();
        return;
    }
    event->accept();
    if (onUnload)
        onUnload();
}

void MainWindow::showTotals(qint64 count, qint64 sum)
{
    m_shownCount = count;
    lblCountValue->setText(app::recordCountText(count));
    lblSumValue->setText(app::tollSumText(sum));
}

} // namespace ui
