#include "ui/Commands.h"
#include "reader/ReaderLink.h"

#include "app/Failure.h"
#include "app/Constants.h"
#include "history/ViewCondition.h"
#include "history/Database.h"
#include "history/HistoryGridModel.h"
#include "history/GridLoad.h"
#include "ui/Conditions.h"
#include "ui/MainWindow.h"
#include "ui/CommandGuard.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTimer>

namespace ui {

history::HistoryGridModel *gridModel(MainWindow &window)
{
    QTableView *grid = window.MSHFlexGrid;
    if (auto *model = qobject_cast<history::HistoryGridModel *>(grid->model()))
        return model;
    auto *model = new history::HistoryGridModel(grid);
    grid->setModel(model);
    return model;
}

void showGrid(MainWindow &f, const QString &source, qint16 viewType, const std::function<bool()> &keepGoing)
{
    const history::GridLoad load = history::loadGrid(*gridModel(f), source, viewType, keepGoing);
    QTableView *grid = f.MSHFlexGrid;
    grid->verticalHeader()->setVisible(load.empty());
    if (!load.empty()) {
        grid->horizontalHeader()->setVisible(true);
        for (int c = 0; c < load.columnWidths.size(); ++c)
            grid->setColumnWidth(c, load.columnWidths[c]);
    }
    f.showTotals(load.totals.count, load.totals.sum);
    showServerState(f);
}

void showServerState(MainWindow &window)
{
    QString text;
    // "接続中" only while the connection is open: not before the first
    // try has answered, nor after a loss was reported.
    if (history::usesServer())
        text = history::serverConnected()           ? QStringLiteral("共有サーバー: 接続中")
               : !history::serverAwayReason().isEmpty() ? QStringLiteral("共有サーバーに接続できません")
                                                   : QStringLiteral("共有サーバー: 接続を確認中…");
    window.lblServerState->setText(text);
    window.lblServerState->setToolTip(history::serverAwayReason());
}

void refreshCardNumbersFromServer(MainWindow &f)
{
    if (QApplication::activeModalWidget()) {
        // Tried again while the window lives.
        QTimer::singleShot(200, &f, [w = &f] { guarded(app::Procedure::ListCardNumbers, [w] { refreshCardNumbersFromServer(*w); }); });
        return;
    }
    const bool typed = f.optCardNo[0]->isChecked();
    const QString text = f.txtCardInput->text();
    const QString chosen = f.cboCardSelect->currentText();
    fillCardNumbers(f);
    const int index = chosen == kNoCardNo ? -1 : f.cboCardSelect->findText(chosen);
    if (index >= 0)
        f.cboCardSelect->setCurrentIndex(index);
    f.txtCardInput->setText(text);
    f.optCardNo[typed ? 0 : 1]->setChecked(true);
}

void fillCardNumbers(MainWindow &f)
{
    // Without the shared history's server the list holds "0000" alone; the
    // status bar says why.
    QStringList numbers;
    app::expectedFailureOf([&] { numbers = history::historyCardNumbers(); });
    showServerState(f);
    const QString remembered = selectedCardNumber(f);
    f.cboCardSelect->clear();
    f.cboCardSelect->addItem(kNoCardNo);
    f.cboCardSelect->addItems(numbers);
    if (!numbers.isEmpty())
        f.txtCardInput->setText(QString());
    f.cboCardSelect->setCurrentIndex(int(numbers.indexOf(remembered) + 1)); // "0000" when not held
    f.optCardNo[1]->setChecked(true); // the selection is a choice from the list
}

void disableOutputCommands(MainWindow &f)
{
    for (QPushButton *b : {f.btnPrintDefault, f.btnPrintDesktop, f.btnCSVOutput})
        b->setEnabled(false);
    for (QAction *a : {f.mnuPrintDefault, f.mnuPrintDesktop, f.mnuCSVOutput, f.mnuMonthlyTotals})
        a->setEnabled(false);
}

void enableOutputCommands(MainWindow &f)
{
    f.btnPrintDefault->setEnabled(true);
    f.mnuPrintDefault->setEnabled(true);
    if (reader::link().relayMode == reader::RelayMode::ThroughRelayUnit) {
        f.btnPrintDesktop->setEnabled(true);
        f.mnuPrintDesktop->setEnabled(true);
    }
    f.btnCSVOutput->setEnabled(true);
    f.mnuCSVOutput->setEnabled(true);
    // The totals are of the history: not of a card read.
    f.mnuMonthlyTotals->setEnabled(f.view.viewType == 2);
}

void emptyStagingAndGrid(MainWindow &window)
{
    history::runStatement(history::shownViewSql(window.view, kTableTemp, QStringLiteral("FORMAT")));
    showGrid(window, kTableTemp, 0);
}

void enableDBReadIfHistory(MainWindow &window)
{
    bool any = false;
    if (!app::expectedFailureOf([&] { any = history::hasRows(kTableData); }).isEmpty())
        any = true;
    if (any)
        window.btnDBRead->setEnabled(true);
    showServerState(window);
}

void restartPolling(MainWindow &window) { window.TimerPolling->start(kPollingIntervalMs); }

QString takeView(MainWindow &window, qint16 viewType, const ViewSelection &selection)
{
    window.view = history::viewQuery(viewType, selection);
    return history::viewStatement(viewType == 1 ? kTableTemp : kTableData, window.view);
}

bool cardReadNotRegistered(const MainWindow &window)
{
    bool staged = false;
    if (window.view.viewType == 1)
        app::expectedFailureOf([&] { staged = history::hasRows(kTableTemp); });
    return staged;
}

void focusNextUsefulControl(MainWindow &f, QWidget *preferred)
{
    if (QWidget *asked = f.focusAfterCommand.data()) {
        f.focusAfterCommand.clear();
        if (asked->isEnabled()) {
            asked->setFocus(Qt::OtherFocusReason);
            return;
        }
    }
    if (preferred && preferred->isEnabled()) {
        preferred->setFocus(Qt::OtherFocusReason);
        return;
    }
    const QWidget *now = QApplication::focusWidget();
    if (now && now != f.btnExit && now->isEnabled() && f.isAncestorOf(now))
        return;
    for (QWidget *next : {static_cast<QWidget *>(f.btnDBEntry), static_cast<QWidget *>(f.btnPrintDefault),
                          static_cast<QWidget *>(f.btnDBRead), static_cast<QWidget *>(f.btnCardRead)})
        if (next->isEnabled()) {
            next->setFocus(Qt::OtherFocusReason);
            return;
        }
    f.MSHFlexGrid->setFocus(Qt::OtherFocusReason);
}

void selectAllCardsFromList(MainWindow &f)
{
    f.optCardNo[1]->setChecked(true);
    f.cboCardSelect->setCurrentIndex(0);
}

void useAllCardsIfNothingTyped(MainWindow &f)
{
    if (f.optCardNo[0]->isChecked() && f.txtCardInput->text().isEmpty())
        selectAllCardsFromList(f);
}

} // namespace ui
