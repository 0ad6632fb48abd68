#include "ui/Keyboard.h"

#include <QAbstractItemView>
#include <QKeyEvent>
#include <QPushButton>

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

} // namespace

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
