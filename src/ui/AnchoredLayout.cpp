#include "ui/AnchoredLayout.h"

#include <QWidget>
#include <QWidgetItem>

ui::AnchoredLayout::AnchoredLayout(QWidget *parent, QSize designed) : QLayout(parent), m_designed(designed)
{
    setContentsMargins(0, 0, 0, 0);
    setSizeConstraint(QLayout::SetMinimumSize);
}

ui::AnchoredLayout::~AnchoredLayout()
{
    for (const Item &i : std::as_const(m_items))
        delete i.item;
}

void ui::AnchoredLayout::addAnchored(QWidget *widget, int anchors)
{
    addChildWidget(widget);
    m_items.append({new QWidgetItem(widget), widget->geometry(), anchors});
    invalidate();
}

void ui::AnchoredLayout::addTheRest(const QList<QWidget *> &apart)
{
    for (QWidget *child : parentWidget()->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
        if (child->isWindow() || apart.contains(child))
            continue;
        bool taken = false;
        for (const Item &i : std::as_const(m_items))
            taken = taken || i.item->widget() == child;
        if (!taken)
            addAnchored(child, Left | Top);
    }
}

QRect ui::AnchoredLayout::placed(QRect designed, int anchors, QSize designedParent, QSize size)
{
    const int dx = std::max(0, size.width() - designedParent.width());
    const int dy = std::max(0, size.height() - designedParent.height());
    QRect r = designed;
    if ((anchors & Left) && (anchors & Right))
        r.setWidth(r.width() + dx);
    else if (anchors & Right)
        r.translate(dx, 0);
    if ((anchors & Top) && (anchors & Bottom))
        r.setHeight(r.height() + dy);
    else if (anchors & Bottom)
        r.translate(0, dy);
    return r;
}

void ui::AnchoredLayout::addItem(QLayoutItem *item) { m_items.append({item, item->geometry(), Left | Top}); }

QLayoutItem *ui::AnchoredLayout::itemAt(int index) const
{
    return index >= 0 && index < m_items.size() ? m_items[index].item : nullptr;
}

QLayoutItem *ui::AnchoredLayout::takeAt(int index)
{
    if (index < 0 || index >= m_items.size())
        return nullptr;
    return m_items.takeAt(index).item;
}

void ui::AnchoredLayout::setGeometry(const QRect &rect)
{
    QLayout::setGeometry(rect);
    // Straight onto the widgets: a widget item would bound a control by its
    // size hint (a button's height), and the designed places are exact.
    for (const Item &i : std::as_const(m_items)) {
        const QRect r = placed(i.designed, i.anchors, m_designed, rect.size()).translated(rect.topLeft());
        if (QWidget *w = i.item->widget())
            w->setGeometry(r);
        else
            i.item->setGeometry(r);
    }
}
