#include "ui/RestoreDeletedDialog.h"
#include "app/Constants.h"

#include "app/Common.h"
#include "history/ShownRows.h"
#include "history/ViewCondition.h"
#include "ui/Commands.h"
#include "ui/ModalDialogs.h"
#include "ui/Progress.h"
#include "ui/UiFonts.h"
#include "ui/Conditions.h"
#include "ui/MainWindow.h"
#include "ui/CommandGuard.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace ui {

namespace {
const QString kTitle = QStringLiteral("削除した利用履歴を元に戻す");

QString periodText(const history::Deletion &d)
{
    if (d.firstDate.isEmpty() && d.lastDate.isEmpty())
        return QString();
    return d.firstDate == d.lastDate ? d.firstDate : d.firstDate + QStringLiteral(" ～ ") + d.lastDate;
}
} // namespace

RestoreDeletedDialog::RestoreDeletedDialog(MainWindow &window) : QDialog(&window), m_window(window)
{
    setObjectName(QStringLiteral("frmRestoreDeleted"));
    setWindowTitle(kTitle);
    setFont(pGothicFont(9));
    lblText = new QLabel(this);
    lblText->setObjectName(QStringLiteral("lblText"));
    lblText->setWordWrap(true);
    grdDeletions = new QTableWidget(0, 6, this);
    grdDeletions->setObjectName(QStringLiteral("grdDeletions"));
    grdDeletions->setHorizontalHeaderLabels({QStringLiteral("削除日時"), QStringLiteral("PC"), QStringLiteral("ユーザー"),
                                             QStringLiteral("件数"), QStringLiteral("カードNO"), QStringLiteral("期間")});
    grdDeletions->verticalHeader()->setVisible(false);
    grdDeletions->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grdDeletions->setSelectionBehavior(QAbstractItemView::SelectRows);
    grdDeletions->setSelectionMode(QAbstractItemView::SingleSelection);
    grdDeletions->horizontalHeader()->setStretchLastSection(true);
    // Tab leaves the list for the buttons (arrows move within it).
    grdDeletions->setTabKeyNavigation(false);
    cmdRestore = new QPushButton(QStringLiteral("元に戻す(&R)"), this);
    cmdRestore->setObjectName(QStringLiteral("cmdRestore"));
    cmdClose = new QPushButton(QStringLiteral("閉じる(&C)"), this);
    cmdClose->setObjectName(QStringLiteral("cmdClose"));
    cmdRestore->setAutoDefault(false);
    cmdClose->setAutoDefault(false);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdRestore);
    buttons->addWidget(cmdClose);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(lblText);
    layout->addWidget(grdDeletions, 1);
    layout->addLayout(buttons);
    resize(760, 360);

    connect(cmdRestore, &QPushButton::clicked, this, [this] { restoreChosen(); });
    connect(cmdClose, &QPushButton::clicked, this, &QDialog::reject);
    connect(grdDeletions, &QTableWidget::itemSelectionChanged, this,
            [this] { cmdRestore->setEnabled(!grdDeletions->selectedItems().isEmpty()); });
    reload();
}

void RestoreDeletedDialog::reload()
{
    m_deletions.clear();
    const QString failed = app::expectedFailureOf([&] { m_deletions = history::listDeletions(); });
    grdDeletions->setRowCount(int(m_deletions.size()));
    for (int r = 0; r < m_deletions.size(); ++r) {
        const history::Deletion &d = m_deletions[r];
        const QStringList fields = {d.deletedAt, d.pc, d.user, app::recordCountText(d.rows),
                                    d.cards.join(QStringLiteral("、")), periodText(d)};
        for (int c = 0; c < fields.size(); ++c) {
            auto *item = new QTableWidgetItem(fields[c]);
            item->setTextAlignment(Qt::AlignVCenter | (c == 3 ? Qt::AlignRight : Qt::AlignLeft));
            grdDeletions->setItem(r, c, item);
        }
    }
    grdDeletions->resizeColumnsToContents();
    const int days = history::deletedKeepDays();
    if (!failed.trimmed().isEmpty())
        lblText->setText(failed.trimmed());
    else if (m_deletions.isEmpty())
        lblText->setText(QStringLiteral("元に戻せる削除はありません(削除した利用履歴は%1日間保管されます)。").arg(days));
    else
        lblText->setText(QStringLiteral("元に戻す削除を選択して「元に戻す」をクリックしてください。"
                                        "削除した利用履歴は%1日間保管されます。")
                             .arg(days));
    if (!m_deletions.isEmpty())
        grdDeletions->selectRow(0);
    cmdRestore->setEnabled(!m_deletions.isEmpty());
}

void RestoreDeletedDialog::restoreChosen()
{
    guarded(app::Procedure::RestoreDeletion, [this] {
        const int row = grdDeletions->currentRow();
        if (row < 0 || row >= m_deletions.size())
            return;
        const history::Deletion d = m_deletions[row];
        if (!app::askYesNoDefaultNo(QStringLiteral("%1に削除した%2件の利用履歴(カードNO:%3)を元に戻します。よろしいですか?")
                                             .arg(d.deletedAt)
                                             .arg(app::groupedNumber(d.rows))
                                             .arg(d.cards.isEmpty() ? QStringLiteral("なし")
                                                                    : d.cards.join(QStringLiteral("、")))))
            return;
        history::Restored result;
        const QString refused = app::expectedFailureOf(
            [&] { result = history::restoreDeletion(d.id, progressOf(&m_window, QStringLiteral("元に戻しています…"))); });
        if (!refused.isEmpty()) {
            if (!refused.trimmed().isEmpty()) // not stopped by the user
                app::showWarning(refused);
            reload();
            return;
        }
        // The history changed: the card list, and a history view, show it.
        fillCardNumbers(m_window);
        enableDBReadIfHistory(m_window);
        if (m_window.view.viewType == 2 && !history::shownRows().source.isEmpty())
            showGrid(m_window, history::shownRows().source, 2);
        reload();
        QString text = app::recordCountText(result.restored) + QStringLiteral("の利用履歴を元に戻しました。");
        if (result.alreadyThere > 0)
            text += QStringLiteral("\r\n(") + app::recordCountText(result.alreadyThere) +
                    QStringLiteral("は既に利用履歴にあったため、そのままにしました。)");
        app::showInfo(text);
    });
}

void showRestoreDeleted(MainWindow &window)
{
    guarded(app::Procedure::ShowRestoreDeleted, [&] {
        RestoreDeletedDialog dialog(window);
        runModal(dialog);
    });
}

} // namespace ui
