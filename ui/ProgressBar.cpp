#include "ui/ProgressBar.h"

namespace docuflume {

ProgressBar::ProgressBar(QWidget* parent) : QProgressBar(parent) {}

void ProgressBar::setText(const QString& text)
{
    if (text == m_text)
        return;
    m_text = text;
    update();
}

} // namespace docuflume
