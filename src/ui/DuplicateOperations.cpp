// The duplicate display and the deletion dialog's entry.

#include "ui/DuplicateOperations.h"

#include "app/Common.h"
#include "app/Constants.h"
#include "history/ViewCondition.h"
#include "ui/Commands.h"
#include "ui/Progress.h"
#include "ui/FrameControl.h"
#include "ui/ModalDialogs.h"
#include "ui/Conditions.h"
#include "ui/DeleteRowsDialog.h"
#include "ui/MainWindow.h"
#include "ui/CommandGuard.h"

#include <QAction>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

namespace ui {

void showDuplicates(MainWindow &f)
{
    guarded(app::Procedure::FindDuplicates, [&] {
        if (f.optCardNo[0]->isChecked())
            selectAllCardsFromList(f);
        if (!app::askYesNo(QStringLiteral("現在表示されている") + app::recordCountText(f.shownCount()) +
                                QStringLiteral("の利用履歴からカード番号以外が同じ項目を絞り込みます。よろしいですか?")))
            return;
        showGrid(f, history::duplicatesSql(f.view, kNoCardNo, QStringLiteral("SELECT")), 2,
                 busyProgressOf(&f, QStringLiteral("重複レコード検索中…")));
        if (f.shownCount() != 0) {
            setConditionsEnabled(f, false);
            f.fraHFlexGrid->setTitle(kCaptionDuplicates);
            f.mnuRecordDelete->setEnabled(true);
        } else {
            // The grid is empty now, whatever the caption said before.
            f.fraHFlexGrid->setTitle(kCaptionHistory);
            app::showInfo(QStringLiteral("重複レコードはありません。"));
            f.mnuRecordCheck->setEnabled(false);
        }
        f.btnDBDelete->setEnabled(false);
        disableOutputCommands(f);
    });
}

void deleteDuplicates(MainWindow &window)
{
    DeleteRowsDialog dialog(window);
    runModal(dialog);
}

bool duplicatesShown(MainWindow &window) { return window.fraHFlexGrid->title() == kCaptionDuplicates; }

} // namespace ui
