#pragma once

#include <QGroupBox>

namespace docuflume {

// A frame drawn as the design has it: a thin border with the caption set into its top line,
// on the frame's own background colour (which the window skin may change).
class FrameBox final : public QGroupBox
{
    Q_OBJECT

public:
    explicit FrameBox(const QString& caption, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace docuflume
