// Card read and screen clear.

#include "ui/HistoryOperations.h"

#include "app/basCommon.h"
#include "app/basGlobal.h"
#include "decode/CardTable.h"
#include "history/ViewCondition.h"
#include "history/basAccess.h"
#include "history/basAccessStaging.h"
#include "reader/basRS232C.h"
#include "ui/Commands.h"
#include "ui/FrameControl.h"
#include "ui/Conditions.h"
#include "ui/MainWindow.h"

#include <QAction>
#include <QScopeGuard>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

namespace ui {

namespace {

// Records in the card data table (element 0 holds none).
int cardRecordCount() { return int(CardTable.size()) - 1; }
} // namespace

void basMain_CardRead()
{
    guarded("basMain_CardRead", [] {
        MainWindow &f = form();
        const auto focus = qScopeGuard([&f] { focusNextUsefulControl(f.btnDBEntry); });
        if (basMain_CheckDateTime() || typedCardNumberRefused())
            return;
        useAllCardsIfNothingTyped();
        basMain_BanCardRead(false);
        f.TimerPolling->stop();
        for (QPushButton *b : {f.btnCardRead, f.btnViewCls, f.btnDBEntry, f.btnDBRead, f.btnDBDelete})
            b->setEnabled(false);
        disableOutputCommands();
        f.fraHFlexGrid->setTitle(kCaptionHistory);
        f.ProgressBar->setRange(0, 100);
        f.ProgressBar->setValue(0);
        f.ProgressBar->show();
        emptyStagingAndGrid();

        basRS232C_CommCardRead(cardReadDateLimit());

        if (cardRecordCount() < 1) {
            if (blnReadError) {
                basCommon_ShowWarning(QStringLiteral("カード読込中にエラーが発生しました。"));
            } else {
                f.ProgressBar->setValue(100);
                basCommon_ShowWarning(kNoData);
            }
        } else {
            f.ProgressBar->setValue(100);
            const ViewSelection selection = currentViewSelection();
            basAccess_MDBAddTEMP(CardTable, basAccess_StagingCondition(selection));
            showGrid(basAccess_MakeReadSQL(kTableTemp, 1, selection), 1);
            f.lblCardValue->setText(QStringLiteral("カード正常"));
            f.btnCardRead->setEnabled(true);
            if (f.lblCountValue->text() == recordCountText(0)) {
                f.fraHFlexGrid->setTitle(kCaptionHistory);
                basCommon_ShowWarning(kNoData);
            } else {
                f.fraHFlexGrid->setTitle(kCaptionHistory + QStringLiteral("(ETCカード)"));
                f.btnViewCls->setEnabled(true);
                f.btnDBEntry->setEnabled(true);
                enableOutputCommands();
            }
        }
        enableDBReadIfHistory();
        f.ProgressBar->hide();
        restartPolling();
        basMain_BanCardRead(true);
    });
}

void basMain_ViewCls()
{
    guarded("basMain_ViewCls", [] {
        MainWindow &f = form();
        const auto focus = qScopeGuard([] { focusNextUsefulControl(); });
        f.TimerPolling->stop();
        for (QPushButton *b : {f.btnCardRead, f.btnViewCls, f.btnDBEntry})
            b->setEnabled(false);
        disableOutputCommands();
        f.fraHFlexGrid->setTitle(kCaptionHistory);
        emptyStagingAndGrid();
        basAccess_ResetViewCondition();
        restartPolling();
        f.btnCardRead->setEnabled(true);
    });
}

} // namespace ui
