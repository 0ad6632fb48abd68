#include "ui/DesktopPrintDialog.h"

#include "app/Failure.h"
#include "app/Common.h"
#include "app/Constants.h"
#include "deskprint/DesktopPrint.h"
#include "reader/CardReader.h"
#include "ui/Commands.h"
#include "ui/FrameControl.h"
#include "ui/Keyboard.h"
#include "ui/Twips.h"
#include "ui/UiFonts.h"
#include "ui/MainWindow.h"
#include "ui/CommandGuard.h"

#include <QPointer>
#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>

namespace ui {

namespace {

// The row a list item stands for, kept with the item.
constexpr int kPrintedRole = Qt::UserRole;
constexpr int kNullColumnsRole = Qt::UserRole + 1;
constexpr int kRowKeyRole = Qt::UserRole + 2;

deskprint::DesktopPrintRow rowOf(const QTreeWidgetItem *item)
{
    deskprint::DesktopPrintRow row;
    row.printed = item->data(0, kPrintedRole).toBool();
    row.nullColumns = item->data(0, kNullColumnsRole).toStringList();
    row.rowKey = item->data(0, kRowKeyRole).toLongLong();
    for (int c = 1; c < kDesktopPrintHeaders.size(); ++c)
        row.values << item->text(c);
    return row;
}

} // namespace

DesktopPrintDialog::DesktopPrintDialog(MainWindow &window) : QDialog(&window), m_window(window)
{
    setObjectName(QStringLiteral("frmPrintDesktop"));
    setWindowTitle(QStringLiteral("卓上プリンタ印刷"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setModal(true);
    setFixedSize(kClientWidth, kClientHeight);

    fraListView = place(new FrameControl(QStringLiteral("利用履歴"), this), "fraListView", 120, 120, 11895, 6735);
    fraListView->setFont(pGothicFont(11.25));
    ListView = place(new QTreeWidget(fraListView), "ListView", 120, 240, 11655, 6375);
    ListView->setFont(pGothicFont(9.75));
    ListView->setRootIsDecorated(false);
    ListView->setUniformRowHeights(true);
    ListView->setAllColumnsShowFocus(true);
    ListView->setSelectionMode(QAbstractItemView::ExtendedSelection);
    ListView->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView->header()->setSectionsMovable(false);
    ListView->header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    lblText = place(new QLabel(QStringLiteral("印刷したい利用履歴を選択し、「印刷」ボタンを押してください。"), this),
                    "lblText", 120, 6960, 5175, 315);
    lblAttention = place(new QLabel(QStringLiteral("※既に印刷済みの利用履歴はチェックマークが表示されます。"), this),
                         "lblAttention", 120, 7200, 5175, 255);
    chkPrint = place(new QCheckBox(QStringLiteral("印刷されていない利用履歴のみ表示"), this), "chkPrint", 5880, 6960,
                     3255, 255);
    for (QWidget *w : {(QWidget *)lblText, (QWidget *)lblAttention, (QWidget *)chkPrint})
        w->setFont(pGothicFont(9));
    cmdPrint = place(new QPushButton(QStringLiteral("印刷"), this), "cmdPrint", 9240, 6960, 1335, 495);
    cmdExit = place(new QPushButton(QStringLiteral("終了"), this), "cmdExit", 10680, 6960, 1335, 495);
    for (QPushButton *b : {cmdPrint, cmdExit}) {
        b->setFont(pGothicFont(11.25));
        b->setAutoDefault(false);
    }
    setTabOrderOf({ListView, chkPrint, cmdPrint, cmdExit});
    leaveOnTab(ListView);
    pressFocusedButtonOnReturn(this);

    connect(cmdPrint, &QPushButton::clicked, this, [this] { printChosenRows(); });
    connect(cmdExit, &QPushButton::clicked, this, [this] {
        guarded(app::Procedure::CloseDesktopPrintDialog, [this] { close(); });
    });
    // Every change refilters: a click, the keyboard, an accessibility tool.
    connect(chkPrint, &QCheckBox::toggled, this, [this] { printedMarksToggled(); });
    connect(ListView, &QTreeWidget::itemChanged, this,
            [this](QTreeWidgetItem *item, int column) {
                if (column == 0)
                    rowChecked(item);
            });
}

void DesktopPrintDialog::load()
{
    guarded(app::Procedure::LoadDesktopPrint, [this] {
        m_window.TimerPolling->stop();
        // A poll still on the line (the one a closing print window starts)
        // is dropped: the print runs talk to the printer alone.
        reader::link().dropSequences();
        reader::link().relayMode = reader::RelayMode::Direct; // the print frames go out as built, not inside a "COM1:" envelope
        fillList(deskprint::listStatement(m_window.view, deskprint::viewTable(m_window.view), 0));
    });
}

void DesktopPrintDialog::done(int result)
{
    // The print run talks to the printer through the reader's port; the link
    // sequence of the unload must not run in the middle of it.
    if (m_printing)
        return;
    if (!m_unloaded) {
        m_unloaded = true;
        unload();
    }
    QDialog::done(result);
}

void DesktopPrintDialog::unload()
{
    guarded(app::Procedure::CloseDesktopPrint, [this] {
        reader::pollReader();
        restartPolling(m_window);
    });
}

void DesktopPrintDialog::refill()
{
    fillList(
        deskprint::listStatement(m_window.view, deskprint::viewTable(m_window.view), chkPrint->isChecked() ? 1 : 0));
}

void DesktopPrintDialog::fillList(const history::BoundStatement &list)
{
    guarded(app::Procedure::FillDesktopPrintList, [&] {
        const QList<deskprint::DesktopPrintRow> rows = deskprint::listRows(list);
        const QSignalBlocker quiet(ListView);
        ListView->clear();
        ListView->setColumnCount(int(kDesktopPrintHeaders.size()));
        ListView->setHeaderLabels(kDesktopPrintHeaders);
        for (int c = 0; c < kDesktopPrintColumnTwips.size(); ++c)
            ListView->setColumnWidth(c, twipsToPx(kDesktopPrintColumnTwips[c]));
        QList<QTreeWidgetItem *> items;
        items.reserve(rows.size());
        for (const deskprint::DesktopPrintRow &row : rows) {
            auto *item = new QTreeWidgetItem(QStringList{row.mark()} + row.values);
            // The check mark shows PRINT_FLAG; the user cannot change it.
            item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
            item->setCheckState(0, row.printed ? Qt::Checked : Qt::Unchecked);
            item->setData(0, kPrintedRole, row.printed);
            item->setData(0, kNullColumnsRole, row.nullColumns);
            item->setData(0, kRowKeyRole, row.rowKey);
            items << item;
        }
        ListView->addTopLevelItems(items);
    });
}

void DesktopPrintDialog::rowChecked(QTreeWidgetItem *item)
{
    guarded(app::Procedure::CheckDesktopPrintItem, [&] {
        const Qt::CheckState mark = item->data(0, kPrintedRole).toBool() ? Qt::Checked : Qt::Unchecked;
        if (item->checkState(0) != mark) {
            const QSignalBlocker quiet(ListView);
            item->setCheckState(0, mark);
        }
    });
}

void DesktopPrintDialog::printedMarksToggled()
{
    guarded(app::Procedure::FilterDesktopPrintList, [this] { refill(); });
}

void DesktopPrintDialog::printChosenRows()
{
    guarded(app::Procedure::PrintSelectedRows, [this] {
        // One run at a time, and none once the window is closing (its link
        // sequence is then talking to the reader).
        if (m_printing || m_unloaded)
            return;
        // The selected rows as they are now, in list order: the filter box
        // stays usable and may refill the list while the records go out.
        QList<deskprint::DesktopPrintRow> selected;
        for (int i = 0; i < ListView->topLevelItemCount(); ++i)
            if (QTreeWidgetItem *item = ListView->topLevelItem(i); item->isSelected())
                selected << rowOf(item);
        if (selected.isEmpty()) {
            refill(); // nothing chosen: the list as it is now
            return;
        }
        setPrinting(true);
        deskprint::printRows(deskprint::viewTable(m_window.view), selected, app::showWarning,
                             [dialog = QPointer<DesktopPrintDialog>(this)](int printed) {
                                 if (!dialog)
                                     return;
                                 dialog->setPrinting(false);
                                 guarded(app::Procedure::PrintSelectedRows, [&] {
                                     dialog->refill();
                                     app::showInfo(app::groupedNumber(printed) + QStringLiteral("件印刷しました。"));
                                 });
                             });
    });
}

void DesktopPrintDialog::setPrinting(bool printing)
{
    m_printing = printing;
    for (QWidget *w : {(QWidget *)ListView, (QWidget *)cmdPrint, (QWidget *)cmdExit})
        w->setEnabled(!printing);
}

void printOnDesktopPrinter(MainWindow &window)
{
    guarded(app::Procedure::OpenDesktopPrint, [&] {
        DesktopPrintDialog dialog(window);
        dialog.load();
        dialog.exec();
    });
}

} // namespace ui
