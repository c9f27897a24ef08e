#pragma once

#include <QProgressBar>

namespace docuflume {

// A progress bar that shows a text of the program's choosing, taken literally: the plain
// bar would read "%p" or "%v" in a file name as placeholders.
class ProgressBar final : public QProgressBar
{
    Q_OBJECT

public:
    explicit ProgressBar(QWidget* parent = nullptr);

    QString text() const override { return m_text; }
    void setText(const QString& text);

private:
    QString m_text;
};

} // namespace docuflume
