#include "ui/SortDialog.h"
#include "app/RunSettings.h"

#include "app/Settings.h"
#include "app/Common.h"
#include "app/Constants.h"
#include "history/ViewCondition.h"
#include "history/Database.h"
#include "ui/Commands.h"
#include "ui/DuplicateOperations.h"
#include "ui/FrameControl.h"
#include "ui/Keyboard.h"
#include "ui/MainWindow.h"
#include "ui/ModalDialogs.h"
#include "ui/Twips.h"
#include "ui/UiFonts.h"
#include "ui/Conditions.h"
#include "ui/CommandGuard.h"

#include <QEvent>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

namespace ui {

namespace {
const QString kNewest = QStringLiteral("NEW");
const QString kOldest = QStringLiteral("OLD");
} // namespace

SortDialog::SortDialog(MainWindow &window) : QDialog(&window), m_window(window)
{
    setObjectName(QStringLiteral("frmSetSort"));
    setWindowTitle(QStringLiteral("表示設定"));
    fixDialogSize(*this, 4110, 2415);
    lblText = placeInDialog(new QLabel(QStringLiteral("利用履歴の表示方法を選択してください。\r\n"
                                              "標準印刷時、CSV出力時にも反映されます。"),
                               this),
                    "lblText", 120, 120, 3855, 375);
    lblAttention =
        placeInDialog(new QLabel(QStringLiteral("※設定後は、必ず「決定」ボタンを押してください。"), this), "lblAttention",
              120, 600, 3855, 255);
    QPalette red = lblAttention->palette();
    red.setColor(QPalette::WindowText, QColor(0xC0, 0, 0));
    lblAttention->setPalette(red);
    fraSetSort = placeInDialog(new FrameControl(QStringLiteral("表示方法"), this), "fraSetSort", 120, 960, 3855, 855);
    // The options' positions are the dialog's; they sit on the frame.
    optPassDate[0] = placeInDialog(new QRadioButton(QStringLiteral("ご利用日の新しい順"), fraSetSort), "optPassDate(0)",
                           240, 240, 3000, 240);
    optPassDate[1] = placeInDialog(new QRadioButton(QStringLiteral("ご利用日の古い順"), fraSetSort), "optPassDate(1)", 240,
                           480, 3000, 240);
    btnOK = placeInDialog(new QPushButton(QStringLiteral("決定"), this), "btnOK", 1440, 1920, 1215, 375);
    btnCancel = placeInDialog(new QPushButton(QStringLiteral("取消"), this), "btnCancel", 2760, 1920, 1215, 375);
    btnOK->setAutoDefault(false);
    btnCancel->setAutoDefault(false);
    setTabOrderOf({optPassDate[0], optPassDate[1], btnOK, btnCancel});
    pressFocusedButtonOnReturn(this);
    connect(btnOK, &QPushButton::clicked, this, [this] { saveOrder(); });
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

bool SortDialog::event(QEvent *event)
{
    // Shown, or made the active window again.
    if (event->type() == QEvent::Show || event->type() == QEvent::WindowActivate)
        showSavedOrder();
    return QDialog::event(event);
}

void SortDialog::showSavedOrder()
{
    guarded(app::Procedure::LoadSortOrder, [this] {
        QRadioButton *option = app::runSettings().viewSort == kNewest ? optPassDate[0] : app::runSettings().viewSort == kOldest ? optPassDate[1] : nullptr;
        if (!option)
            return;
        option->setChecked(true);
        option->setFocus();
    });
}

void SortDialog::saveOrder()
{
    guarded(app::Procedure::SaveSortOrder, [this] {
        if (optPassDate[0]->isChecked())
            app::runSettings().viewSort = kNewest;
        else if (optPassDate[1]->isChecked())
            app::runSettings().viewSort = kOldest;
        app::saveSetting(kSectionMain, QStringLiteral("ViewSort"), app::runSettings().viewSort);
        // The grid again in the new order, from the window's conditions now.
        if (m_window.view.viewType == 1) {
            showGrid(m_window, takeView(m_window, 1, currentViewSelection(m_window)), 1);
        } else if (m_window.view.viewType == 2) {
            // The duplicate view stays the duplicate view; its range is that
            // of the read the duplicates were taken from.
            if (duplicatesShown(m_window))
                showGrid(m_window, history::duplicatesSql(m_window.view, kNoCardNo, QStringLiteral("SELECT")), 2);
            else
                showGrid(m_window, takeView(m_window, 2, currentViewSelection(m_window)), 2);
        }
        accept();
    });
}

} // namespace ui
