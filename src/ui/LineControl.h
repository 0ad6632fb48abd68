#pragma once
// A one-pixel line in a system colour, like the form's line controls.

#include <QPalette>
#include <QWidget>

namespace ui {

class LineControl : public QWidget {
    Q_OBJECT
public:
    explicit LineControl(QWidget *parent = nullptr) : QWidget(parent) { setAutoFillBackground(true); }
    void setLine(QPalette::ColorRole role, int x1, int y, int x2)
    {
        QPalette p = palette();
        p.setColor(QPalette::Window, QPalette().color(role)); // the application's palette
        setPalette(p);
        setGeometry(x1, y, std::max(1, x2 - x1), 1);
        m_role = role;
    }
    QPalette::ColorRole colourRole() const { return m_role; }

private:
    QPalette::ColorRole m_role = QPalette::Dark;
};

} // namespace ui
