#include "ui/DeleteRowsDialog.h"

#include "app/Common.h"
#include "app/Constants.h"
#include "history/Database.h"
#include "history/DeletedRows.h"
#include "history/ShownRows.h"
#include "history/ViewCondition.h"
#include "history/Duplicates.h"
#include "ui/Commands.h"
#include "ui/Progress.h"
#include "ui/DuplicateOperations.h"
#include "ui/FrameControl.h"
#include "ui/Keyboard.h"
#include "ui/ModalDialogs.h"
#include "ui/Twips.h"
#include "ui/UiFonts.h"
#include "ui/Conditions.h"
#include "ui/MainWindow.h"
#include "ui/CommandGuard.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>

namespace ui {

DeleteRowsDialog::DeleteRowsDialog(MainWindow &window) : QDialog(&window), m_window(window)
{
    setObjectName(QStringLiteral("frmDelRecord"));
    setWindowTitle(QStringLiteral("重複レコード削除"));
    fixDialogSize(*this, 5055, 3015);
    lblText = placeInDialog(new QLabel(QStringLiteral("削除するレコードのカードNOを選択してください。\n"
                                              "「決定」ボタンをクリックすると\n"
                                              "カードNOに該当するレコードを全て削除します。"),
                               this),
                    "lblText", 120, 120, 4815, 735);
    lblCardNo = placeInDialog(new QLabel(QStringLiteral("カードNO："), this), "lblCardNo", 120, 1020, 1095, 330);
    cboCardNo = placeInDialog(new QComboBox(this), "cboCardNo", 1200, 960, 1335, 360);
    cboCardNo->setFont(gothicFont(12));
    lblAttention = placeInDialog(new QLabel(QStringLiteral("※選択後は、必ず「決定」ボタンを押してください。\n"
                                                   "※削除したレコードは30日間、編集メニューの「削除した利用履歴を元に戻す」で元に戻せます。"),
                                    this),
                         "lblAttention", 120, 1500, 4815, 735);
    QPalette red = lblAttention->palette();
    red.setColor(QPalette::WindowText, QColor(0xC0, 0, 0));
    lblAttention->setPalette(red);
    btnOK = placeInDialog(new QPushButton(QStringLiteral("決定"), this), "btnOK", 2400, 2460, 1215, 375);
    btnCancel = placeInDialog(new QPushButton(QStringLiteral("取消"), this), "btnCancel", 3720, 2460, 1215, 375);
    btnOK->setAutoDefault(false);
    btnCancel->setAutoDefault(false);
    setTabOrderOf({cboCardNo, btnOK, btnCancel});
    pressFocusedButtonOnReturn(this);
    connect(btnOK, &QPushButton::clicked, this, [this] { deleteDuplicatesOfChosenCard(); });
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    load();
}

void DeleteRowsDialog::load()
{
    const QStringList cards = history::duplicateCardNumbers(m_window.view);
    cboCardNo->clear();
    cboCardNo->addItems(cards);
    cboCardNo->setCurrentIndex(cards.isEmpty() ? -1 : 0);
}

void DeleteRowsDialog::deleteDuplicatesOfChosenCard()
{
    guarded(app::Procedure::DeleteDuplicates, [this] {
        // Nothing to choose, nothing chosen: nothing to delete, and the
        // staging table keeps an unregistered card read.
        const QString cardNo = cboCardNo->currentIndex() < 0 ? QString() : cboCardNo->currentText();
        if (cardNo.isEmpty())
            return;
        if (!app::askYesNoDefaultNo(QStringLiteral("カードNO:[") + cardNo +
                                         QStringLiteral("]に該当する重複レコードを全て削除します。よろしいですか?") +
                                         QStringLiteral("\r\n") + history::deletionUndoNote()))
            return;
        int deleted = 0;
        try {
            deleted = history::deleteDuplicates(m_window.view, cardNo, busyProgressOf(&m_window, QStringLiteral("重複レコード削除中…")));
        } catch (const history::ShownRowsChanged &changed) {
            // Another PC changed the history since the duplicates were shown:
            // nothing was deleted; they are shown again to be looked at.
            reject();
            app::showWarning(changed.description());
            showGrid(m_window, history::shownRows().source.isEmpty() ? history::duplicatesSql(m_window.view, kNoCardNo, QStringLiteral("SELECT"))
                                                            : history::shownRows().source,
                     2);
            return;
        }
        fillCardNumbers(m_window);
        emptyStagingAndGrid(m_window);
        enableDBReadIfHistory(m_window);
        MainWindow &f = m_window;
        setConditionsEnabled(m_window, true);
        f.fraHFlexGrid->setTitle(kCaptionHistory);
        f.mnuRecordDelete->setEnabled(false);
        accept();
        app::showInfo(QStringLiteral("重複レコード削除が完了しました。") + deletedCountText(deleted));
    });
}

} // namespace ui
