#include "ui/FrameControl.h"

#include <QEvent>
#include <QPainter>
#include <QStyle>

namespace ui {

FrameControl::FrameControl(const QString &title, QWidget *parent) : QWidget(parent), m_title(title) {}

void FrameControl::setTitle(const QString &title)
{
    m_title = title;
    update();
}

void FrameControl::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::EnabledChange || event->type() == QEvent::FontChange)
        update();
    QWidget::changeEvent(event);
}

void FrameControl::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    const QFontMetrics fm(font());
    // The caption's glyphs take about one em; the border runs through its middle.
    const int em = fm.ascent() * 86 / 100;
    const int lineY = em / 2;
    const QPalette &pal = palette();
    const QRect box(0, lineY, width() - 2, height() - lineY - 2);
    p.setPen(pal.color(QPalette::Dark));
    p.drawRect(box);
    p.setPen(pal.color(QPalette::Light));
    p.drawRect(box.translated(1, 1));
    if (m_title.isEmpty())
        return;
    const int textWidth = fm.horizontalAdvance(m_title);
    const QRect caption(7, 0, textWidth + 2, em + 2);
    p.fillRect(caption, pal.color(QPalette::Window));
    p.setPen(pal.color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    p.drawText(caption.left() + 1, em, m_title);
}

} // namespace ui
