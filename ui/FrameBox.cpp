#include "ui/FrameBox.h"

#include <QPainter>

namespace docuflume {

FrameBox::FrameBox(const QString& caption, QWidget* parent) : QGroupBox(caption, parent)
{
    setAutoFillBackground(true);
}

void FrameBox::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QFontMetrics metrics(font());
    const int lineY = metrics.height() / 2;
    const QRect border = rect().adjusted(0, lineY, -1, -1);

    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRoundedRect(border, 2, 2);

    const int captionLeft = 7;
    const QRect caption(captionLeft, 0, metrics.horizontalAdvance(title()) + 4, metrics.height());
    painter.fillRect(caption, palette().color(QPalette::Window));
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(caption, Qt::AlignCenter | Qt::TextSingleLine, title());
}

} // namespace docuflume
