// Card read and screen clear.

#include "ui/HistoryOperations.h"

#include <QPointer>

#include "app/Common.h"
#include "app/Constants.h"
#include "decode/CardTable.h"
#include "history/ViewCondition.h"
#include "history/Database.h"
#include "history/Staging.h"
#include "reader/CardReader.h"
#include "ui/Commands.h"
#include "ui/FrameControl.h"
#include "ui/Conditions.h"
#include "ui/MainWindow.h"
#include "ui/CommandGuard.h"

#include <QAction>
#include <QScopeGuard>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

namespace ui {

namespace {

// Records in the card data table (element 0 holds none).
int cardRecordCount() { return reader::link().cardTable().count(); }
} // namespace

namespace {

// What the window shows once the card read ended.
void showCardRead(MainWindow &f, bool readWhole)
{
    guarded(app::Procedure::ReadCard, [&] {
        const auto focus = qScopeGuard([&f] { focusNextUsefulControl(f, f.btnDBEntry); });
        if (cardRecordCount() < 1) {
            if (!readWhole) {
                app::showWarning(QStringLiteral("カード読込中にエラーが発生しました。"));
            } else {
                f.ProgressBar->setValue(100);
                app::showWarning(kNoData);
            }
        } else {
            f.ProgressBar->setValue(100);
            const ViewSelection selection = currentViewSelection(f);
            history::stageRecords(reader::link().cardTable().records, history::stagingCondition(selection));
            showGrid(f, takeView(f, 1, selection), 1);
            f.lblCardValue->setText(QStringLiteral("カード正常"));
            f.btnCardRead->setEnabled(true);
            if (f.shownCount() == 0) {
                f.fraHFlexGrid->setTitle(kCaptionHistory);
                app::showWarning(kNoData);
            } else {
                f.fraHFlexGrid->setTitle(kCaptionHistory + QStringLiteral("(ETCカード)"));
                f.btnViewCls->setEnabled(true);
                f.btnDBEntry->setEnabled(true);
                enableOutputCommands(f);
            }
        }
    });
    enableDBReadIfHistory(f);
    f.ProgressBar->hide();
    restartPolling(f);
    setMenusAndConditionsEnabled(f, true);
    f.setCardReadRunning(false);
}

} // namespace

void readCard(MainWindow &f)
{
    if (f.cardReadRunning())
        return; // one read at a time
    const bool started = guarded(app::Procedure::ReadCard, [&] {
        if (refuseReversedRange(f) || typedCardNumberRefused(f)) {
            focusNextUsefulControl(f, f.btnDBEntry);
            return false;
        }
        useAllCardsIfNothingTyped(f);
        setMenusAndConditionsEnabled(f, false);
        f.TimerPolling->stop();
        for (QPushButton *b : {f.btnCardRead, f.btnViewCls, f.btnDBEntry, f.btnDBRead, f.btnDBDelete})
            b->setEnabled(false);
        disableOutputCommands(f);
        f.fraHFlexGrid->setTitle(kCaptionHistory);
        f.ProgressBar->setRange(0, 100);
        f.ProgressBar->setValue(0);
        f.ProgressBar->show();
        emptyStagingAndGrid(f);
        return true;
    });
    if (!started)
        return;
    // The read talks to the reader while the window goes on; the rest
    // follows once it ended.
    f.setCardReadRunning(true);
    const bool reading = guarded(app::Procedure::ReadCard, [&] {
        reader::readCard(cardReadDateLimit(f), [window = QPointer<MainWindow>(&f)](bool readWhole) {
            if (window)
                showCardRead(*window, readWhole);
        });
        return true;
    });
    if (!reading) // (a read that could not start ends as a broken one)
        showCardRead(f, false);
}

void clearScreen(MainWindow &f)
{
    guarded(app::Procedure::ClearView, [&] {
        const auto focus = qScopeGuard([&f] { focusNextUsefulControl(f); });
        f.TimerPolling->stop();
        for (QPushButton *b : {f.btnCardRead, f.btnViewCls, f.btnDBEntry})
            b->setEnabled(false);
        disableOutputCommands(f);
        f.fraHFlexGrid->setTitle(kCaptionHistory);
        emptyStagingAndGrid(f);
        f.view = {};
        restartPolling(f);
        f.btnCardRead->setEnabled(true);
    });
}

} // namespace ui
