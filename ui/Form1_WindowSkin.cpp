// The window's optional skin: a Qt style sheet in "x/o.cjs" beside the program.

#include "shell/Failure.h"
#include "ui/Colours.h"
#include "ui/Form1.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>

namespace docuflume {

void Form1::ApplyWindowSkin()
{
    const QString skin = programFile(QStringLiteral("x/o.cjs"));
    if (!QFileInfo(skin).isFile())
        return;

    const QColor buttonFace = QApplication::palette().color(QPalette::Button);
    setBackgroundColour(this, buttonFace);
    for (QWidget* control : findChildren<QWidget*>()) {
        if (qobject_cast<QRadioButton*>(control) || qobject_cast<QCheckBox*>(control) ||
            qobject_cast<QGroupBox*>(control) || qobject_cast<QLabel*>(control))
            setBackgroundColour(control, buttonFace);
    }

    QFile file(skin);
    if (!file.open(QIODevice::ReadOnly))
        throw Failure(Failure::PermissionDenied,
                      QStringLiteral("The skin %1 cannot be read.").arg(skin));
    setStyleSheet(QString::fromUtf8(file.readAll()));
}

} // namespace docuflume
