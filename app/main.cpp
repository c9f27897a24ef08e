#include "app/DesktopPlatform.h"
#include "ui/Form1.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QApplication::setStyle(QStringLiteral("Fusion"));

    docuflume::DesktopPlatform platform;
    docuflume::Form1 form(platform.services());
    form.Form_Load();
    if (form.endRequested())
        return 0; // no word processor: said so, and nothing more to do
    form.show();
    return QApplication::exec();
}
