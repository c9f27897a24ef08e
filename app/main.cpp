#include "app/CommandLine.h"
#include "app/DesktopPlatform.h"
#include "app/Program.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char* argv[])
{
    // Read before the window system is reached: the options answer without a display.
    QStringList arguments;
    for (int k = 0; k < argc; ++k)
        arguments << QString::fromLocal8Bit(argv[k]);
    const docuflume::CommandLine command = docuflume::ReadCommandLine(arguments);
    if (command.exitCode) {
        std::fputs(command.output.toLocal8Bit().constData(), stdout);
        std::fputs(command.error.toLocal8Bit().constData(), stderr);
        return *command.exitCode;
    }

    QApplication application(argc, argv);
    QApplication::setStyle(QStringLiteral("Fusion"));
    docuflume::DesktopPlatform platform;
    return docuflume::RunProgram(platform.services(), command.paths);
}
