// Test helper: starts one LibreOffice instance through the engine, says "ready" and waits
// to be killed, so that a test can see what becomes of the instance when its program dies.
//
//     holdinstance PROFILE_ROOT

#include "convert/libreoffice/LibreOfficeAutomation.h"

#include <QCoreApplication>

#include <cstdio>
#include <unistd.h>

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    if (argc < 2)
        return 2;
    docuflume::LibreOfficeOptions options;
    options.profileRoot = QString::fromLocal8Bit(argv[1]);
    const auto engine = docuflume::makeLibreOfficeAutomation(options);
    const auto instance = engine->create();
    std::puts("ready");
    std::fflush(stdout);
    for (;;)
        ::pause();
}
