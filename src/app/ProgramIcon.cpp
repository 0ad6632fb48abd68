#include "app/ProgramIcon.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

QImage app::programIcon(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 256.0, size / 256.0); // drawn on a 256 x 256 grid
    p.setPen(Qt::NoPen);

    // The card.
    QLinearGradient body(0, 40, 0, 216);
    body.setColorAt(0, QColor(0x14, 0x7a, 0x5c));
    body.setColorAt(1, QColor(0x0a, 0x4d, 0x3a));
    p.setBrush(body);
    p.drawRoundedRect(QRectF(12, 44, 232, 168), 22, 22);

    // Its chip.
    p.setBrush(QColor(0xe8, 0xc1, 0x4f));
    p.drawRoundedRect(QRectF(36, 96, 56, 44), 8, 8);
    p.setBrush(QColor(0xb8, 0x8f, 0x22));
    p.drawRect(QRectF(36, 116, 56, 4));
    p.drawRect(QRectF(62, 96, 4, 44));

    // The lines of the history read from it.
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(112, 92, 108, 14), 7, 7);
    p.drawRoundedRect(QRectF(112, 120, 108, 14), 7, 7);
    p.drawRoundedRect(QRectF(112, 148, 72, 14), 7, 7);
    return image;
}
