#include "ui/AppIcon.h"

#include <QPainter>
#include <QPainterPath>

namespace docuflume {
namespace {

// A page with a folded corner, and a stream of markup flowing out of it.
QPixmap drawIcon(int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 64.0, size / 64.0);

    QPainterPath page;
    page.moveTo(10, 4);
    page.lineTo(40, 4);
    page.lineTo(52, 16);
    page.lineTo(52, 60);
    page.lineTo(10, 60);
    page.closeSubpath();
    painter.setPen(QPen(QColor(0x1f, 0x4e, 0x8c), 2.5));
    painter.setBrush(QColor(0xf4, 0xf8, 0xfd));
    painter.drawPath(page);

    QPainterPath fold;
    fold.moveTo(40, 4);
    fold.lineTo(40, 16);
    fold.lineTo(52, 16);
    painter.setBrush(QColor(0xc9, 0xdb, 0xf2));
    painter.drawPath(fold);

    painter.setPen(QPen(QColor(0x8a, 0xa4, 0xc8), 3, Qt::SolidLine, Qt::RoundCap));
    for (int y : {24, 32, 40})
        painter.drawLine(QPointF(17, y), QPointF(y == 32 ? 36 : 44, y));

    // The flume: a wave carrying the page's text off as HTML.
    QPainterPath wave;
    wave.moveTo(2, 52);
    wave.cubicTo(16, 42, 26, 62, 40, 52);
    wave.cubicTo(48, 46, 56, 50, 62, 46);
    painter.setPen(QPen(QColor(0xe8, 0x6a, 0x1c), 5, Qt::SolidLine, Qt::RoundCap));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(wave);
    return pixmap;
}

} // namespace

QIcon ApplicationIcon()
{
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(drawIcon(size));
    return icon;
}

} // namespace docuflume
