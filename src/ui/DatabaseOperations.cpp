// Registration, database read and database delete.

#include "ui/HistoryOperations.h"

#include "app/basCommon.h"
#include "app/basGlobal.h"
#include "history/ViewCondition.h"
#include "history/basAccess.h"
#include "history/DeletedRows.h"
#include "history/ShownRows.h"
#include "history/basAccessEntry.h"
#include "ui/Commands.h"
#include "ui/Progress.h"
#include "ui/FrameControl.h"
#include "ui/Conditions.h"
#include "ui/MainWindow.h"

#include <QScopeGuard>
#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

namespace ui {

namespace {
const QString kZeroCount = recordCountText(0);
} // namespace

void basMain_DBEntry()
{
    guarded("basMain_DBEntry", [] {
        MainWindow &f = form();
        QWidget *next = nullptr; // DB読込 once registered
        const auto focus = qScopeGuard([&next] { focusNextUsefulControl(next); });
        if (f.optCardNo[0]->isChecked() && f.txtCardInput->text().isEmpty()) {
            basCommon_ShowWarning(QStringLiteral("カードNOが入力されていません。"));
            f.txtCardInput->setFocus();
            return;
        }
        if (typedCardNumberRefused())
            return;
        const QString cardNo = basAccess_GetSelectCardNo();
        if (cardNo == kNoCardNo) {
            basCommon_ShowWarning(QStringLiteral("カードNO:[") + cardNo + QStringLiteral("]ではDB登録できません。"));
            return;
        }
        if (!basCommon_AskYesNo(QStringLiteral("カードNO:[") + cardNo +
                                QStringLiteral("]でDB登録を行います。よろしいですか?")))
            return;
        f.TimerPolling->stop();
        for (QPushButton *b : {f.btnCardRead, f.btnViewCls, f.btnDBEntry})
            b->setEnabled(false);
        disableOutputCommands();
        f.fraHFlexGrid->setTitle(kCaptionHistory);
        qint64 registered = 0;
        const QString refused = expectedFailureOf(
            [&] { registered = basAccess_MDBTBLEntry(cardNo, busyProgressOf(QStringLiteral("DB登録中…"))); });
        if (!refused.isEmpty() || registered == 0) {
            // Nothing was registered: the card read stays shown for another try.
            f.fraHFlexGrid->setTitle(kCaptionHistory + QStringLiteral("(ETCカード)"));
            for (QPushButton *b : {f.btnCardRead, f.btnViewCls, f.btnDBEntry})
                b->setEnabled(true);
            enableOutputCommands();
            restartPolling();
            showServerState();
            if (refused.isEmpty())
                basCommon_ShowWarning(QStringLiteral("登録できるデータがありませんでした。"));
            else if (!refused.trimmed().isEmpty()) // not stopped by the user
                basCommon_ShowWarning(refused);
            return;
        }
        emptyStagingAndGrid();
        basMain_GetCardNo();
        basAccess_ResetViewCondition();
        restartPolling();
        f.btnCardRead->setEnabled(true);
        enableDBReadIfHistory();
        next = f.btnDBRead;
        basCommon_ShowInfo(QStringLiteral("DB登録が完了しました。"));
    });
}

void basMain_DBRead()
{
    guarded("basMain_DBRead", [] {
        MainWindow &f = form();
        const auto focus = qScopeGuard([&f] { focusNextUsefulControl(f.btnPrintDefault); });
        if (f.lblCountValue->text() != kZeroCount && ViewCondition.ViewMode == 1 &&
            !basCommon_AskYesNo(
                QStringLiteral("DB登録を行わずにDB読込を行うと現在表示されている利用履歴は削除されます。") +
                QStringLiteral("よろしいですか?")))
            return;
        if (basMain_CheckDateTime() || typedCardNumberRefused())
            return;
        useAllCardsIfNothingTyped();
        basMain_BanRecordCheck(true);
        for (QPushButton *b : {f.btnViewCls, f.btnDBEntry, f.btnDBRead, f.btnDBDelete})
            b->setEnabled(false);
        disableOutputCommands();
        f.mnuRecordCheck->setEnabled(false);
        const QString away = expectedFailureOf(
            [&] { showGrid(basAccess_MakeReadSQL(kTableData, 2, currentViewSelection()), 2); });
        if (!away.isEmpty()) {
            // The shared history could not be read: an empty grid, and the
            // button stays for another try.
            showGrid(kTableTemp, 0);
            basAccess_ResetViewCondition();
            f.fraHFlexGrid->setTitle(kCaptionHistory);
            f.btnDBRead->setEnabled(true);
            showServerState();
            basCommon_ShowWarning(away);
            return;
        }
        if (f.lblCountValue->text() != kZeroCount) {
            f.fraHFlexGrid->setTitle(kCaptionHistory + QStringLiteral("(データベース)"));
            f.btnDBDelete->setEnabled(true);
            enableOutputCommands();
            if (basAccess_GetSelectCardNo() == kNoCardNo) {
                f.mnuRecordCheck->setEnabled(true);
                f.mnuRecordDelete->setEnabled(false);
            }
        } else {
            f.fraHFlexGrid->setTitle(kCaptionHistory);
            basCommon_ShowWarning(kNoData);
        }
        f.btnDBRead->setEnabled(true);
    });
}

void basMain_DBDelete()
{
    const auto focus = qScopeGuard([] { focusNextUsefulControl(); });
    guarded("basMain_DBDelete", [] {
        MainWindow &f = form();
        if (f.optCardNo[0]->isChecked())
            selectAllCardsFromList();
        // Exactly the rows counted in the question go: when another PC changed
        // them since they were shown, the view is shown again and the
        // question comes again with the new count.
        qint64 deleted = 0;
        for (;;) {
            if (!basCommon_AskYesNoDefaultNo(QStringLiteral("現在表示されている") + f.lblCountValue->text() +
                                             QStringLiteral("の利用履歴をデータベースから削除します。よろしいですか?") +
                                             QStringLiteral("\r\n") + history::deletionUndoNote()))
                return;
            try {
                deleted = basAccess_DeleteShown("basAccess_MDBTBLOpen",
                                                basAccess_MakeHFGSQL(kTableData, QStringLiteral("DELETE")),
                                                busyProgressOf(QStringLiteral("DB削除中…")));
                break;
            } catch (const ShownRowsChanged &changed) {
                basCommon_ShowWarning(changed.description());
                showGrid(basAccess_ShownRows().source.isEmpty() ? basAccess_MakeHFGSQL(kTableData, QStringLiteral("SELECT"))
                                                                : basAccess_ShownRows().source,
                         2);
                if (f.lblCountValue->text() == kZeroCount) {
                    f.btnDBDelete->setEnabled(false);
                    disableOutputCommands();
                    basCommon_ShowWarning(kNoData);
                    return;
                }
            }
        }
        for (QPushButton *b : {f.btnDBRead, f.btnDBDelete})
            b->setEnabled(false);
        disableOutputCommands();
        f.fraHFlexGrid->setTitle(kCaptionHistory);
        basMain_GetCardNo();
        emptyStagingAndGrid();
        basAccess_ResetViewCondition();
        enableDBReadIfHistory();
        basCommon_ShowInfo(QStringLiteral("DB削除が完了しました。") + deletedCountText(deleted));
    });
}

} // namespace ui
