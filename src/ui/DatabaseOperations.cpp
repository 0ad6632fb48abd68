// Registration, database read and database delete.

#include "ui/HistoryOperations.h"

#include "app/Common.h"
#include "app/Constants.h"
#include "history/ViewCondition.h"
#include "history/Database.h"
#include "history/DeletedRows.h"
#include "history/ShownRows.h"
#include "history/Registration.h"
#include "ui/Commands.h"
#include "ui/Progress.h"
#include "ui/FrameControl.h"
#include "ui/Conditions.h"
#include "ui/MainWindow.h"
#include "ui/CommandGuard.h"

#include <QScopeGuard>
#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

namespace ui {

namespace {
} // namespace

void registerCardRead(MainWindow &f)
{
    guarded(app::Procedure::RegisterCard, [&] {
        QWidget *next = nullptr; // DB読込 once registered
        const auto focus = qScopeGuard([&f, &next] { focusNextUsefulControl(f, next); });
        if (f.optCardNo[0]->isChecked() && f.txtCardInput->text().isEmpty()) {
            app::showWarning(QStringLiteral("カードNOが入力されていません。"));
            focusCardNumber(f);
            return;
        }
        if (typedCardNumberRefused(f))
            return;
        const QString cardNo = selectedCardNumber(f);
        if (cardNo == kNoCardNo) {
            app::showWarning(QStringLiteral("カードNO:[") + cardNo + QStringLiteral("]ではDB登録できません。"));
            focusCardNumber(f);
            return;
        }
        if (!app::askYesNo(QStringLiteral("カードNO:[") + cardNo +
                                QStringLiteral("]でDB登録を行います。よろしいですか?")))
            return;
        // A card re-read a month later still holds last month's passages:
        // what this card number holds already is not registered twice
        // unless the user says so.
        history::StagedPassages staged;
        if (const QString failed = app::expectedFailureOf([&] { staged = history::stagedPassagesHeld(cardNo); });
            !failed.isEmpty()) {
            app::showWarning(failed);
            return;
        }
        QList<qint64> skip;
        if (!staged.heldRows.isEmpty()) {
            const qint64 fresh = staged.staged - staged.heldRows.size();
            const seams::MsgAnswer answer = app::askChoice(
                QStringLiteral("読み込んだ%1件のうち%2件は、カードNO:[%3]に登録済みです。")
                    .arg(app::groupedNumber(staged.staged), app::groupedNumber(staged.heldRows.size()), cardNo),
                {QStringLiteral("新しい%1件だけ登録").arg(app::groupedNumber(fresh)), QStringLiteral("すべて登録"),
                 QStringLiteral("キャンセル")});
            if (answer == seams::MsgAnswer::Cancel)
                return;
            if (answer == seams::MsgAnswer::Yes) {
                if (fresh == 0) {
                    app::showInfo(QStringLiteral("読み込んだ利用履歴は、すべてカードNO:[%1]に登録済みです。何も登録していません。")
                                      .arg(cardNo));
                    return;
                }
                skip = staged.heldRows;
            }
        }
        f.TimerPolling->stop();
        for (QPushButton *b : {f.btnCardRead, f.btnViewCls, f.btnDBEntry})
            b->setEnabled(false);
        disableOutputCommands(f);
        f.fraHFlexGrid->setTitle(kCaptionHistory);
        qint64 registered = 0;
        const QString refused = app::expectedFailureOf(
            [&] { registered = history::registerStaged(cardNo, busyProgressOf(&f, QStringLiteral("DB登録中…")), skip); });
        if (!refused.isEmpty() || registered == 0) {
            // Nothing was registered: the card read stays shown for another try.
            f.fraHFlexGrid->setTitle(kCaptionHistory + QStringLiteral("(ETCカード)"));
            for (QPushButton *b : {f.btnCardRead, f.btnViewCls, f.btnDBEntry})
                b->setEnabled(true);
            enableOutputCommands(f);
            restartPolling(f);
            showServerState(f);
            if (refused.isEmpty())
                app::showWarning(QStringLiteral("登録できるデータがありませんでした。"));
            else if (!refused.trimmed().isEmpty()) // not stopped by the user
                app::showWarning(refused);
            return;
        }
        emptyStagingAndGrid(f);
        fillCardNumbers(f);
        f.view = {};
        restartPolling(f);
        f.btnCardRead->setEnabled(true);
        enableDBReadIfHistory(f);
        next = f.btnDBRead;
        app::showInfo(QStringLiteral("DB登録が完了しました。\r\n") + app::recordCountText(registered) +
                      QStringLiteral("を登録しました。") +
                      (skip.isEmpty() ? QString()
                                      : QStringLiteral("(登録済みの%1は登録しませんでした。)")
                                            .arg(app::recordCountText(skip.size()))));
    });
}

void readHistory(MainWindow &f)
{
    guarded(app::Procedure::ReadHistory, [&] {
        const auto focus = qScopeGuard([&f] { focusNextUsefulControl(f, f.btnPrintDefault); });
        if (f.shownCount() != 0 && f.view.viewType == 1 &&
            !app::askYesNoDefaultNo(
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
        const QString away = app::expectedFailureOf(
            [&] { showGrid(f, takeView(f, 2, currentViewSelection(f)), 2); });
        if (!away.isEmpty()) {
            // The shared history could not be read: an empty grid, and the
            // button stays for another try.
            showGrid(f, kTableTemp, 0);
            f.view = {};
            f.fraHFlexGrid->setTitle(kCaptionHistory);
            f.btnDBRead->setEnabled(true);
            showServerState(f);
            app::showWarning(away);
            return;
        }
        if (f.shownCount() != 0) {
            f.fraHFlexGrid->setTitle(kCaptionHistory + QStringLiteral("(データベース)"));
            f.btnDBDelete->setEnabled(true);
            enableOutputCommands(f);
            if (selectedCardNumber(f) == kNoCardNo) {
                f.mnuRecordCheck->setEnabled(true);
                f.mnuRecordDelete->setEnabled(false);
            }
        } else {
            f.fraHFlexGrid->setTitle(kCaptionHistory);
            app::showWarning(kNoData);
        }
        f.btnDBRead->setEnabled(true);
    });
}

void deleteShownRows(MainWindow &f)
{
    const auto focus = qScopeGuard([&f] { focusNextUsefulControl(f); });
    guarded(app::Procedure::DeleteShownRows, [&] {
        if (f.optCardNo[0]->isChecked())
            selectAllCardsFromList(f);
        // Exactly the rows counted in the question go: when another PC changed
        // them since they were shown, the view is shown again and the
        // question comes again with the new count.
        qint64 deleted = 0;
        for (;;) {
            if (!app::askYesNoDefaultNo(QStringLiteral("現在表示されている") + app::recordCountText(f.shownCount()) +
                                             QStringLiteral("の利用履歴をデータベースから削除します。よろしいですか?") +
                                             QStringLiteral("\r\n") + history::deletionUndoNote()))
                return;
            try {
                deleted = history::deleteShown(app::Procedure::RunStatement,
                                               history::shownViewSql(f.view, kTableData, QStringLiteral("DELETE")),
                                               busyProgressOf(&f, QStringLiteral("DB削除中…")));
                break;
            } catch (const history::ShownRowsChanged &changed) {
                app::showWarning(changed.description());
                showGrid(f, history::shownRows().source.isEmpty() ? history::shownViewSql(f.view, kTableData, QStringLiteral("SELECT"))
                                                                : history::shownRows().source,
                         2);
                if (f.shownCount() == 0) {
                    f.btnDBDelete->setEnabled(false);
                    disableOutputCommands(f);
                    app::showWarning(kNoData);
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
        f.view = {};
        enableDBReadIfHistory(f);
        app::showInfo(QStringLiteral("DB削除が完了しました。") + deletedCountText(deleted));
    });
}

} // namespace ui
