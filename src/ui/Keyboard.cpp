#include "ui/Keyboard.h"

#include <QAbstractItemView>
#include <QKeyEvent>
#include <QPushButton>

namespace {

class TabLeaves : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        // Tab without Ctrl is the window's own focus move once the view's
        // tab navigation is off; Ctrl+Tab would reach the view as a key.
        if (event->type() != QEvent::KeyPress)
            return false;
        const auto *key = static_cast<QKeyEvent *>(event);
        const bool backtab = key->key() == Qt::Key_Backtab ||
                             (key->key() == Qt::Key_Tab && (key->modifiers() & Qt::ShiftModifier));
        if (!(key->modifiers() & Qt::ControlModifier) || (key->key() != Qt::Key_Tab && !backtab))
            return false;
        auto *view = static_cast<QWidget *>(watched);
        QWidget *next = view;
        do
            next = backtab ? next->previousInFocusChain() : next->nextInFocusChain();
        while (next != view && !(next->isVisible() && next->isEnabled() && (next->focusPolicy() & Qt::TabFocus) &&
                                 next->window() == view->window() && !next->focusProxy()));
        next->setFocus(backtab ? Qt::BacktabFocusReason : Qt::TabFocusReason);
        return true;
    }
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
    view->setTabKeyNavigation(false);
    view->installEventFilter(new TabLeaves(view));
}

void pressFocusedButtonOnReturn(QWidget *window)
{
    auto *filter = new ReturnPresses(window);
    for (QPushButton *button : window->findChildren<QPushButton *>())
        button->installEventFilter(filter);
}
