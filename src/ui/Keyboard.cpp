#include "ui/Keyboard.h"

#include <QAbstractItemView>
#include <QCoreApplication>
#include <QDateEdit>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>

namespace ui {

namespace {

// The focus to the next (previous) control of the window that takes it by Tab.
void moveFocusOn(QWidget *view, bool backtab)
{
    QWidget *next = view;
    do
        next = backtab ? next->previousInFocusChain() : next->nextInFocusChain();
    while (next != view && !(next->isVisible() && next->isEnabled() && (next->focusPolicy() & Qt::TabFocus) &&
                             next->window() == view->window() && !next->focusProxy()));
    next->setFocus(backtab ? Qt::BacktabFocusReason : Qt::TabFocusReason);
}

// Tab (plain: withControl false; with Ctrl: true) leaves the control.
class TabLeaves : public QObject {
public:
    TabLeaves(QObject *parent, bool withControl) : QObject(parent), m_withControl(withControl) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::KeyPress)
            return false;
        const auto *key = static_cast<QKeyEvent *>(event);
        const bool backtab = key->key() == Qt::Key_Backtab ||
                             (key->key() == Qt::Key_Tab && (key->modifiers() & Qt::ShiftModifier));
        if (bool(key->modifiers() & Qt::ControlModifier) != m_withControl || (key->key() != Qt::Key_Tab && !backtab))
            return false;
        moveFocusOn(static_cast<QWidget *>(watched), backtab);
        return true;
    }

private:
    bool m_withControl;
};

class ReturnPresses : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::KeyPress)
            return false;
        const auto *key = static_cast<QKeyEvent *>(event);
        if ((key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter) ||
            (key->modifiers() & ~Qt::KeypadModifier) || key->isAutoRepeat())
            return false;
        auto *button = static_cast<QPushButton *>(watched);
        if (button->hasFocus() && button->isEnabled())
            button->click();
        return true;
    }
};

// A click into a date picker selects the section clicked (typed digits
// replace it), and a whole date typed into it ("2024/05/01", "2024/5/1",
// "20240501", with / - or .) becomes its date, wherever the click fell.
// The picker's own section editing runs first, key by key (it still takes a
// day typed alone); the typed date then overrides what those keys made of it.
class TypedDate : public QObject {
public:
    explicit TypedDate(QDateEdit *picker) : QObject(picker) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        switch (event->type()) {
        case QEvent::FocusIn:
        case QEvent::MouseButtonPress: // (on the picker's text field)
            m_typed.clear();
            return false;
        case QEvent::MouseButtonRelease: {
            // The section clicked is selected, so that digits typed replace it.
            auto *picker = static_cast<QDateEdit *>(parent());
            if (watched != picker && !static_cast<QLineEdit *>(watched)->hasSelectedText())
                picker->setSelectedSection(picker->currentSection());
            return false;
        }
        case QEvent::KeyPress:
            if (watched == parent())
                break;
            return false;
        default:
            return false;
        }
        const QString text = static_cast<QKeyEvent *>(event)->text();
        if (m_passing || text.size() != 1 || !(text[0].isDigit() || QStringLiteral("/-.").contains(text))) {
            if (!m_passing)
                m_typed.clear();
            return false;
        }
        m_typed += text;
        m_passing = true;
        QCoreApplication::sendEvent(watched, event);
        m_passing = false;
        static const QRegularExpression whole(QStringLiteral(R"(^(\d{4})[/.-](\d{1,2})[/.-](\d{1,2})$|^(\d{4})(\d{2})(\d{2})$)"));
        if (const QRegularExpressionMatch m = whole.match(m_typed); m.hasMatch()) {
            const int at = m.capturedLength(1) ? 1 : 4;
            const QDate date(m.captured(at).toInt(), m.captured(at + 1).toInt(), m.captured(at + 2).toInt());
            auto *picker = static_cast<QDateEdit *>(watched);
            if (date.isValid() && date >= picker->minimumDate() && date <= picker->maximumDate())
                picker->setDate(date);
        }
        return true;
    }

private:
    QString m_typed; // what was typed since the click or the focus came
    bool m_passing = false;
};

} // namespace

void takeTypedDates(QDateEdit *picker)
{
    auto *typed = new TypedDate(picker);
    picker->installEventFilter(typed);
    if (auto *field = picker->findChild<QLineEdit *>())
        field->installEventFilter(typed);
}

void setTabOrderOf(const QList<QWidget *> &controls)
{
    for (qsizetype i = 1; i < controls.size(); ++i)
        QWidget::setTabOrder(controls[i - 1], controls[i]);
}

void leaveOnTab(QAbstractItemView *view)
{
    // Tab without Ctrl is the window's own focus move once the view's tab
    // navigation is off; Ctrl+Tab would reach the view as a key.
    view->setTabKeyNavigation(false);
    view->installEventFilter(new TabLeaves(view, true));
}

void leaveSectionsOnTab(QWidget *picker)
{
    // A date or time picker would take Tab to move between its sections
    // (the arrow keys and typing do that): one Tab stop.
    picker->installEventFilter(new TabLeaves(picker, false));
}

void pressFocusedButtonOnReturn(QWidget *window)
{
    auto *filter = new ReturnPresses(window);
    for (QPushButton *button : window->findChildren<QPushButton *>())
        button->installEventFilter(filter);
}

} // namespace ui
