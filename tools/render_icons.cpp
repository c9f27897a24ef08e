// Renders the program's icon into a hicolor icon theme tree for the desktop:
//
//     docuflume-icons OUTPUT_DIR APP_ID SIZE...
//
// writes OUTPUT_DIR/hicolor/<size>x<size>/apps/<APP_ID>.png for every size; needs no display.

#include "ui/AppIcon.h"

#include <QDir>
#include <QGuiApplication>
#include <QPixmap>

#include <cstdio>

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    const QStringList arguments = QGuiApplication::arguments();
    if (arguments.size() < 4) {
        std::fputs("usage: docuflume-icons OUTPUT_DIR APP_ID SIZE...\n", stderr);
        return 2;
    }
    const QIcon icon = docuflume::ApplicationIcon();
    for (const QString& text : arguments.mid(3)) {
        const int size = text.toInt();
        const QString folder = arguments[1] + QStringLiteral("/hicolor/%1x%1/apps").arg(size);
        const QPixmap pixmap = icon.pixmap(size, size);
        if (size <= 0 || pixmap.width() != size || !QDir().mkpath(folder) ||
            !pixmap.save(folder + u'/' + arguments[2] + QStringLiteral(".png"))) {
            std::fprintf(stderr, "docuflume-icons: cannot render the %s px icon\n",
                         qPrintable(text));
            return 1;
        }
    }
    return 0;
}
