// Test helper: starts one LibreOffice instance through the engine, says "ready" and waits
// to be killed, so that a test can see what becomes of the instance when its program dies.
// Given a document and a folder, it also has the document converted ahead into that folder,
// three times over, within a batch.
//
//     holdinstance PROFILE_ROOT [DOCUMENT OUTPUT_FOLDER]

#include "convert/ExportDocument.h"
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
    options.aheadInstances = 2;
    const auto engine = docuflume::makeLibreOfficeAutomation(options);
    const auto instance = engine->create();
    if (argc >= 4) {
        const QString document = QString::fromLocal8Bit(argv[2]);
        const QString folder = QString::fromLocal8Bit(argv[3]);
        engine->beginBatch();
        QList<docuflume::PlannedExport> next;
        for (int k = 1; k <= 3; ++k)
            next.append(
                {document, folder + QStringLiteral("/held-%1.htm").arg(k), docuflume::HtmlNormal});
        engine->planAhead(next);
    }
    std::puts("ready");
    std::fflush(stdout);
    for (;;)
        ::pause();
}
