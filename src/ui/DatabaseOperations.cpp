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

void registerCardRead(MainWindow &f)
{
    guarded("basMain_DBEntry", [&] {
        QWidget *next = nullptr; // DB読込 once registered
        const auto focus = qScopeGuard([&f, &next] { focusNextUsefulControl(f, next); });
        if (f.optCardNo[0]->isChecked() && f.txtCardInput->text().isEmpty()) {
            basCommon_ShowWarning(QStringLiteral("カードNOが入力されていません。"));
            f.txtCardInput->setFocus();
            return;
        }
        if (typedCardNumberRefused(f))
            return;
        const QString cardNo = selectedCardNumber(f);
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
        disableOutputCommands(f);
        f.fraHFlexGrid->setTitle(kCaptionHistory);
        qint64 registered = 0;
        const QString refused = expectedFailureOf(
            [&] { registered = basAccess_MDBTBLEntry(cardNo, busyProgressOf(&f, QStringLiteral("DB登録中…"))); });
        if (!refused.isEmpty() || registered == 0) {
            // Nothing was registered: the card read stays shown for another try.
            f.fraHFlexGrid->setTitle(kCaptionHistory + QStringLiteral("(ETCカード)"));
            for (QPushButton *b : {f.btnCardRead, f.btnViewCls, f.btnDBEntry})
                b->setEnabled(true);
            enableOutputCommands(f);
            restartPolling(f);
            showServerState(f);
            if (refused.isEmpty())
                basCommon_ShowWarning(QStringLiteral("登録できるデータがありませんでした。"));
            else if (!refused.trimmed().isEmpty()) // not stopped by the user
                basCommon_ShowWarning(refused);
            return;
        }
        emptyStagingAndGrid(f);
        fillCardNumbers(f);
        basAccess_ResetViewCondition();
        restartPolling(f);
        f.btnCardRead->setEnabled(true);
        enableDBReadIfHistory(f);
        next = f.btnDBRead;
        basCommon_ShowInfo(QStringLiteral("DB登録が完了しました。"));
    });
}

void readHistory(MainWindow &f)
{
    guarded("basMain_DBRead", [&] {
        const auto focus = qScopeGuard([&f] { focusNextUsefulControl(f, f.btnPrintDefault); });
        if (f.lblCountValue->text() != kZeroCount && ViewCondition.ViewMode == 1 &&
            !basCommon_AskYesNo(
                QStringLiteral("DB登録を行わずにDB読込を行うと現在表示されている利用履歴は削除されます。") +
                QStringLiteral("よろしいですか?")))
            return;
        if (refuseReversedRange(f) || typedCardNumberRefused(f))
            return;
        useAllCardsIfNothingTyped(f);
        setConditionsEnabled(f, true);
        for (QPushButton *b : {f.btnViewCls, f.btnDBEntry, f.btnDBRead, f.btnDBDelete})
            b->setEnabled(false);
        disableOutputCommands(f);
        f.mnuRecordCheck->setEnabled(false);
        const QString away = expectedFailureOf(
            [&] { showGrid(f, basAccess_MakeReadSQL(kTableData, 2, currentViewSelection(f)), 2); });
        if (!away.isEmpty()) {
            // The shared history could not be read: an empty grid, and the
            // button stays for another try.
            showGrid(f, kTableTemp, 0);
            basAccess_ResetViewCondition();
            f.fraHFlexGrid->setTitle(kCaptionHistory);
            f.btnDBRead->setEnabled(true);
            showServerState(f);
            basCommon_ShowWarning(away);
            return;
        }
        if (f.lblCountValue->text() != kZeroCount) {
            f.fraHFlexGrid->setTitle(kCaptionHistory + QStringLiteral("(データベース)"));
            f.btnDBDelete->setEnabled(true);
            enableOutputCommands(f);
            if (selectedCardNumber(f) == kNoCardNo) {
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

void deleteShownRows(MainWindow &f)
{
    const auto focus = qScopeGuard([&f] { focusNextUsefulControl(f); });
    guarded("basMain_DBDelete", [&] {
        if (f.optCardNo[0]->isChecked())
            selectAllCardsFromList(f);
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
                                                busyProgressOf(&f, QStringLiteral("DB削除中…")));
                break;
            } catch (const ShownRowsChanged &changed) {
                basCommon_ShowWarning(changed.description());
                showGrid(f, basAccess_ShownRows().source.isEmpty() ? basAccess_MakeHFGSQL(kTableData, QStringLiteral("SELECT"))
                                                                : basAccess_ShownRows().source,
                         2);
                if (f.lblCountValue->text() == kZeroCount) {
                    f.btnDBDelete->setEnabled(false);
                    disableOutputCommands(f);
                    basCommon_ShowWarning(kNoData);
                    return;
                }
            }
        }
        for (QPushButton *b : {f.btnDBRead, f.btnDBDelete})
            b->setEnabled(false);
        disableOutputCommands(f);
        f.fraHFlexGrid->setTitle(kCaptionHistory);
        fillCardNumbers(f);
        emptyStagingAndGrid(f);
        basAccess_ResetViewCondition();
        enableDBReadIfHistory(f);
        basCommon_ShowInfo(QStringLiteral("DB削除が完了しました。") + deletedCountText(deleted));
    });
}

} // namespace ui
