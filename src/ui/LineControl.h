#pragma once
// A one-pixel line in a system colour, like the form's line controls.

#include <QEvent>
#include <QPalette>
#include <QWidget>

namespace ui {

class LineControl : public QWidget {
    Q_OBJECT
public:
    explicit LineControl(QWidget *parent = nullptr) : QWidget(parent)
    {
        setAutoFillBackground(true);
        if (parent)
            parent->installEventFilter(this);
    }
    // A line drawn to the parent's right edge stays there when the parent grows.
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == parentWidget() && event->type() == QEvent::Resize && m_toTheEdge)
            setGeometry(x(), y(), std::max(1, parentWidget()->width() - x()), 1);
        return QWidget::eventFilter(watched, event);
    }
    void setLine(QPalette::ColorRole role, int x1, int y, int x2)
    {
        m_toTheEdge = parentWidget() && x2 >= parentWidget()->width();
        QPalette p = palette();
        p.setColor(QPalette::Window, QPalette().color(role)); // the application's palette
        setPalette(p);
        setGeometry(x1, y, std::max(1, x2 - x1), 1);
        m_role = role;
    }
    QPalette::ColorRole colourRole() const { return m_role; }

private:
    QPalette::ColorRole m_role = QPalette::Dark;
    bool m_toTheEdge = false;
};

} // namespace ui
