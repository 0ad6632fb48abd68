#include "ui/Conditions.h"

#include "app/Seams.h"
#include "app/Common.h"
#include "app/Constants.h"
#include "ui/MainWindow.h"

#include <QAction>
#include <QComboBox>
#include "ui/FrameControl.h"
#include "ui/CommandGuard.h"

#include <QDateEdit>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QTimeEdit>
#include <QTimer>
#include <algorithm>

namespace ui {

namespace {

// Frame widths of the two selection modes, in twips.
constexpr double kAllRecordsWidth = 1590.908;
constexpr double kRangeWidth = 6924.24;

QList<QWidget *> conditionControls(MainWindow &f)
{
    return {f.optCardNo[0],    f.optCardNo[1],     f.txtCardInput, f.cboCardSelect,
            f.optSelectMode[0], f.optSelectMode[1], f.cmdDateStart, f.dtpDateStart,
            f.dtpTimeStart,     f.cmdDateEnd,       f.dtpDateEnd,   f.dtpTimeEnd};
}

void setConditionControlsEnabled(MainWindow &window, bool enabled)
{
    for (QWidget *w : conditionControls(window))
        w->setEnabled(enabled);
}

// The option of a pair that is checked: 0 or 1, -1 when neither is.
qint16 checkedIndex(QRadioButton *const (&options)[2])
{
    return options[0]->isChecked() ? 0 : options[1]->isChecked() ? 1 : -1;
}
} // namespace

void disableOutputMenuItems(MainWindow &f)
{
    for (QAction *a : {f.mnuCSVOutput, f.mnuMonthlyTotals, f.mnuPrintDefault, f.mnuPrintDesktop, f.mnuRecordCheck,
                       f.mnuRecordDelete})
        a->setEnabled(false);
}

void setMenuEnabled(QMenu *menu, bool enabled)
{
    menu->setEnabled(enabled);
    menu->menuAction()->setEnabled(enabled);
}

QDateTime todayStart() { return QDateTime(seams::now().date(), QTime(0, 0, 0)); }
QDateTime todayEnd() { return QDateTime(seams::now().date(), QTime(23, 59, 59)); }

void showSelectMode(MainWindow &f, qint16 index)
{
    guarded(app::Procedure::SelectRangeMode, [&] {
        if (index != 0 && index != 1)
            return;
        const bool range = index == 1;
        f.optSelectMode[index]->setChecked(true);
        f.fraSelectMode->resize(qRound((range ? kRangeWidth : kAllRecordsWidth) / 15.0),
                                f.fraSelectMode->height());
        for (QWidget *w : QList<QWidget *>{f.cmdDateStart, f.dtpDateStart, f.dtpTimeStart, f.cmdDateEnd,
                                           f.dtpDateEnd, f.dtpTimeEnd})
            w->setVisible(range);
    });
}

DateTimeRange selectedRange(MainWindow &f)
{
    return {f.dtpDateStart->date(), f.dtpTimeStart->time(), f.dtpDateEnd->date(), f.dtpTimeEnd->time()};
}

ViewSelection currentViewSelection(MainWindow &f)
{
    ViewSelection v;
    v.CardNoMode = checkedIndex(f.optCardNo);
    // Normalised here, whatever started the operation: the focus may never
    // have left the box (a keyboard shortcut, an accessibility press).
    v.TypedCardNo = normaliseCardNumber(f.txtCardInput->text());
    v.ListCardNo = f.cboCardSelect->currentText();
    v.SelectMode = checkedIndex(f.optSelectMode);
    v.Range = selectedRange(f);
    return v;
}

std::optional<QDate> cardReadDateLimit(MainWindow &f)
{
    if (f.optSelectMode[1]->isChecked())
        return f.dtpDateStart->date();
    return std::nullopt;
}

bool refuseReversedRange(MainWindow &f)
{
    return guarded(app::Procedure::CheckRange, [&] {
        if (!f.optSelectMode[1]->isChecked())
            return false;
        if (selectedRange(f).isReversed()) {
            app::showWarning(QStringLiteral("開始日時より前の日時を終了日時に設定することは出来ません。"));
            return true;
        }
        return false;
    });
}

void setMenusAndConditionsEnabled(MainWindow &f, bool enable)
{
    guarded(app::Procedure::LockCommandsForCardRead, [&] {
        if (!enable)
            disableOutputMenuItems(f);
        for (QMenu *m : {f.mnuEdit, f.mnuConfig, f.mnuHelp})
            setMenuEnabled(m, enable);
        // CSV取込 changes the history a card read is about to stage against.
        for (QAction *a : {f.mnuCSVImport, f.mnuBackup, f.mnuRestoreBackup})
            a->setEnabled(enable);
        setConditionControlsEnabled(f, enable);
    });
}

void setConditionsEnabled(MainWindow &f, bool enable)
{
    guarded(app::Procedure::OfferDuplicateTools, [&] {
        if (!enable)
            disableOutputMenuItems(f);
        setConditionControlsEnabled(f, enable);
    });
}

QString selectedCardNumber(MainWindow &window) { return history::selectedCardNo(currentViewSelection(window)); }

QString normaliseCardNumber(const QString &typed)
{
    if (typed.isEmpty())
        return typed;
    // Digits typed with the input method on are full-width: "１２" is card 0012.
    QString text = typed;
    for (QChar &c : text)
        if (c >= QChar(0xFF10) && c <= QChar(0xFF19))
            c = QChar(u'0' + (c.unicode() - 0xFF10));
    // Anything but digits is no card number: left as it is, for the warning to name.
    if (!std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c >= u'0' && c <= u'9'; }))
        return typed;
    return (kNoCardNo + text).right(4);
}

bool typedCardNumberRefused(MainWindow &f)
{
    const QString typed = f.txtCardInput->text();
    if (!f.optCardNo[0]->isChecked() || typed.isEmpty())
        return false;
    const QString card = normaliseCardNumber(typed);
    if (card.size() == 4 && std::all_of(card.cbegin(), card.cend(), [](QChar c) { return c >= u'0' && c <= u'9'; }))
        return false;
    app::showWarning(QStringLiteral("カードNO:[") + typed +
                          QStringLiteral("]は4桁の数字ではありません。カードNOは数字で入力してください。"));
    focusCardNumber(f);
    return true;
}

void focusCardNumber(MainWindow &f)
{
    QWidget *box = f.optCardNo[0]->isChecked() ? static_cast<QWidget *>(f.txtCardInput)
                                               : static_cast<QWidget *>(f.cboCardSelect);
    f.focusAfterCommand = box;
    box->setFocus(Qt::OtherFocusReason);
}

void setRangeStartToToday(MainWindow &f)
{
    const QDateTime t = todayStart();
    f.dtpDateStart->setDate(t.date());
    f.dtpTimeStart->setTime(t.time());
}

void setRangeEndToToday(MainWindow &f)
{
    const QDateTime t = todayEnd();
    f.dtpDateEnd->setDate(t.date());
    f.dtpTimeEnd->setTime(t.time());
}

void cardInputFocused(MainWindow &f)
{
    f.optCardNo[0]->setChecked(true);
    // Select after the click that gave the focus has placed its cursor.
    QTimer::singleShot(0, f.txtCardInput, [box = f.txtCardInput] { box->selectAll(); });
    f.txtCardInput->selectAll();
}

void cardInputLeft(MainWindow &f)
{
    QLineEdit *box = f.txtCardInput;
    box->setText(normaliseCardNumber(box->text()));
}

} // namespace ui
