#pragma once

#include <QColor>
#include <QPalette>
#include <QWidget>

namespace docuflume {

// Fills a control's background with a colour of its own.
inline void setBackgroundColour(QWidget* widget, const QColor& colour)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, colour);
    widget->setPalette(palette);
    widget->setBackgroundRole(QPalette::Window); // buttons would otherwise fill with Button
    widget->setAutoFillBackground(true);
}

} // namespace docuflume
