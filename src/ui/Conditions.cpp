#include "ui/Conditions.h"

#include "app/Seams.h"
#include "app/basCommon.h"
#include "app/basGlobal.h"
#include "ui/MainWindow.h"

#include <QAction>
#include <QComboBox>
#include "ui/FrameControl.h"

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

QList<QWidget *> conditionControls()
{
    MainWindow &f = form();
    return {f.optCardNo[0],    f.optCardNo[1],     f.txtCardInput, f.cboCardSelect,
            f.optSelectMode[0], f.optSelectMode[1], f.cmdDateStart, f.dtpDateStart,
            f.dtpTimeStart,     f.cmdDateEnd,       f.dtpDateEnd,   f.dtpTimeEnd};
}

void setConditionControlsEnabled(bool enabled)
{
    for (QWidget *w : conditionControls())
        w->setEnabled(enabled);
}

// The option of a pair that is checked: 0 or 1, -1 when neither is.
qint16 checkedIndex(QRadioButton *const (&options)[2])
{
    return options[0]->isChecked() ? 0 : options[1]->isChecked() ? 1 : -1;
}
} // namespace

void disableOutputMenuItems()
{
    MainWindow &f = form();
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

void basMain_SelectMode(qint16 index)
{
    guarded("basMain_SelectMode", [&] {
        if (index != 0 && index != 1)
            return;
        MainWindow &f = form();
        const bool range = index == 1;
        f.optSelectMode[index]->setChecked(true);
        f.fraSelectMode->resize(qRound((range ? kRangeWidth : kAllRecordsWidth) / 15.0),
                                f.fraSelectMode->height());
        for (QWidget *w : QList<QWidget *>{f.cmdDateStart, f.dtpDateStart, f.dtpTimeStart, f.cmdDateEnd,
                                           f.dtpDateEnd, f.dtpTimeEnd})
            w->setVisible(range);
    });
}

DateTimeRange selectedRange()
{
    const MainWindow &f = form();
    return {f.dtpDateStart->date(), f.dtpTimeStart->time(), f.dtpDateEnd->date(), f.dtpTimeEnd->time()};
}

ViewSelection currentViewSelection()
{
    const MainWindow &f = form();
    ViewSelection v;
    v.CardNoMode = checkedIndex(f.optCardNo);
    // Normalised here, whatever started the operation: the focus may never
    // have left the box (a keyboard shortcut, an accessibility press).
    v.TypedCardNo = normaliseCardNumber(f.txtCardInput->text());
    v.ListCardNo = f.cboCardSelect->currentText();
    v.SelectMode = checkedIndex(f.optSelectMode);
    v.Range = selectedRange();
    return v;
}

std::optional<QDate> cardReadDateLimit()
{
    const MainWindow &f = form();
    if (f.optSelectMode[1]->isChecked())
        return f.dtpDateStart->date();
    return std::nullopt;
}

bool basMain_CheckDateTime()
{
    return guarded("basMain_CheckDateTime", [] {
        if (!form().optSelectMode[1]->isChecked())
            return false;
        if (selectedRange().isReversed()) {
            basCommon_ShowWarning(QStringLiteral("開始日時より前の日時を終了日時に設定することは出来ません。"));
            return true;
        }
        return false;
    });
}

void basMain_BanCardRead(bool enable)
{
    guarded("basMain_BanCardRead", [&] {
        MainWindow &f = form();
        if (!enable)
            disableOutputMenuItems();
        for (QMenu *m : {f.mnuEdit, f.mnuConfig, f.mnuHelp})
            setMenuEnabled(m, enable);
        setConditionControlsEnabled(enable);
    });
}

void basMain_BanRecordCheck(bool enable)
{
    guarded("basMain_BanRecordCheck", [&] {
        if (!enable)
            disableOutputMenuItems();
        setConditionControlsEnabled(enable);
    });
}

QString basAccess_GetSelectCardNo() { return ::basAccess_GetSelectCardNo(currentViewSelection()); }

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

bool typedCardNumberRefused()
{
    MainWindow &f = form();
    const QString typed = f.txtCardInput->text();
    if (!f.optCardNo[0]->isChecked() || typed.isEmpty())
        return false;
    const QString card = normaliseCardNumber(typed);
    if (card.size() == 4 && std::all_of(card.cbegin(), card.cend(), [](QChar c) { return c >= u'0' && c <= u'9'; }))
        return false;
    basCommon_ShowWarning(QStringLiteral("カードNO:[") + typed +
                          QStringLiteral("]は4桁の数字ではありません。カードNOは数字で入力してください。"));
    f.txtCardInput->setFocus();
    return true;
}

void frmMain_cmdDateStart_Click()
{
    const QDateTime t = todayStart();
    form().dtpDateStart->setDate(t.date());
    form().dtpTimeStart->setTime(t.time());
}

void frmMain_cmdDateEnd_Click()
{
    const QDateTime t = todayEnd();
    form().dtpDateEnd->setDate(t.date());
    form().dtpTimeEnd->setTime(t.time());
}

void frmMain_txtCardInput_GotFocus()
{
    MainWindow &f = form();
    f.optCardNo[0]->setChecked(true);
    // Select after the click that gave the focus has placed its cursor.
    QTimer::singleShot(0, f.txtCardInput, [box = f.txtCardInput] { box->selectAll(); });
    f.txtCardInput->selectAll();
}

void frmMain_txtCardInput_LostFocus()
{
    QLineEdit *box = form().txtCardInput;
    box->setText(normaliseCardNumber(box->text()));
}

} // namespace ui
