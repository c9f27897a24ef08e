// Converts real documents through the LibreOffice engine, one fresh instance per document,
// and compares with LibreOffice's own command line on the same files:
//   - once per file (a fresh office for every document, as the engine does), from a profile
//     as the command line leaves it, which pays the office's graphics self-test at every
//     start, and from one seeded as an informed user would seed it (as the engine seeds
//     its own), and
//   - once for all files (one office for the whole set: the floor).
// Prints seconds per document.
//
//     bench_convert [DOCUMENT...]    (default: every document of the shared corpus)

#include "convert/ExportDocument.h"
#include "convert/libreoffice/LibreOfficeAutomation.h"
#include "convert/libreoffice/OfficeInstallation.h"
#include "shell/Failure.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>

#include <cstdio>

using namespace docuflume;

namespace {

int runOffice(const QString& soffice, const QStringList& arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(soffice, arguments);
    process.waitForFinished(-1);
    return process.exitCode();
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    const auto installation = office::Installation::find();
    if (!installation) {
        std::fputs("LibreOffice is not installed\n", stderr);
        return 1;
    }

    QStringList documents = application.arguments().mid(1);
    if (documents.isEmpty()) {
        const QDir corpus(QStringLiteral(DOCUFLUME_SOURCE_DIR "/../shared/corpus/dev"));
        for (const QString& name : corpus.entryList(QDir::Files, QDir::Name)) {
            if (!name.endsWith(QLatin1String(".tsv")))
                documents << corpus.absoluteFilePath(name);
        }
    }
    documents.erase(std::remove_if(documents.begin(), documents.end(),
                                   [](const QString& path) { return !QFileInfo::exists(path); }),
                    documents.end());
    if (documents.isEmpty()) {
        std::fputs("no documents to convert\n", stderr);
        return 1;
    }
    const double n = documents.size();

    QTemporaryDir work;
    const QString soffice = installation->programFolder + QStringLiteral("/soffice");
    const auto commandLine = [&](const QString& profileName) {
        return QStringList{QStringLiteral("--headless"), QStringLiteral("--norestore"),
                           QStringLiteral("-env:UserInstallation=") +
                               QUrl::fromLocalFile(work.filePath(profileName)).toString(),
                           QStringLiteral("--convert-to"), QStringLiteral("html")};
    };
    const QStringList plain = commandLine(QStringLiteral("cli"));
    office::seedProfile(work.filePath(QStringLiteral("cli-seeded")), installation->version);
    const QStringList seeded = commandLine(QStringLiteral("cli-seeded"));
    // Every side starts from a profile that has run once, so none pays first-run costs.
    const QString warmOut = work.filePath(QStringLiteral("warm"));
    for (const QStringList& common : {plain, seeded})
        runOffice(soffice,
                  common + QStringList{QStringLiteral("--outdir"), warmOut, documents.first()});

    auto engineRun = [&](const char* label, bool startAhead) {
        LibreOfficeOptions options;
        options.profileRoot = work.filePath(QStringLiteral("engine"));
        options.startAhead = startAhead;
        const auto engine = makeLibreOfficeAutomation(options);
        const QString out = work.filePath(QStringLiteral("engine-out"));
        QDir().mkpath(out);
        try {
            ExportDocument(
                engine.get(), [] { return std::optional<int>(HtmlNormal); }, documents.first(),
                out + QStringLiteral("/warm.htm"));
        } catch (const Failure&) {
        }
        int failed = 0;
        QElapsedTimer timer;
        timer.start();
        // As the Start button runs them: one batch, so that the next instance is readied
        // while one converts.
        engine->beginBatch();
        for (const QString& document : documents) {
            try {
                ExportDocument(
                    engine.get(), [] { return std::optional<int>(HtmlNormal); }, document,
                    out + u'/' + QFileInfo(document).fileName() + QStringLiteral(".htm"));
            } catch (const Failure& failure) {
                ++failed;
                std::fprintf(stderr, "  %s: %s\n", qPrintable(QFileInfo(document).fileName()),
                             qPrintable(failure.description()));
            }
        }
        engine->endBatch();
        const double seconds = timer.nsecsElapsed() / 1e9;
        std::printf("%-50s %6.3f s/document  (%d of %d failed)\n", label, seconds / n, failed,
                    int(n));
        return seconds / n;
    };

    std::printf("%d documents, LibreOffice in %s\n", int(n),
                qPrintable(installation->programFolder));
    const double ours = engineRun("Docuflume engine, a fresh instance each", true);
    engineRun("Docuflume engine, without starting ahead", false);

    QElapsedTimer timer;
    const auto oncePerFile = [&](const char* label, const QStringList& common) {
        timer.restart();
        for (const QString& document : documents)
            runOffice(soffice,
                      common + QStringList{QStringLiteral("--outdir"),
                                           work.filePath(QStringLiteral("each")), document});
        const double perFile = timer.nsecsElapsed() / 1e9 / n;
        std::printf("%-50s %6.3f s/document\n", label, perFile);
        return perFile;
    };
    oncePerFile("soffice --convert-to, once per file", plain);
    const double perFileSeeded = oncePerFile("soffice --convert-to, once per file, seeded", seeded);

    timer.restart();
    runOffice(soffice,
              seeded +
                  QStringList{QStringLiteral("--outdir"), work.filePath(QStringLiteral("all"))} +
                  documents);
    const double floor = timer.nsecsElapsed() / 1e9 / n;
    std::printf("%-50s %6.3f s/document\n", "soffice --convert-to, once for all files, seeded",
                floor);

    std::printf("engine / once per file, seeded: %.2f\n", ours / perFileSeeded);
    std::printf("engine / one process:           %.2f\n", ours / floor);
    return 0;
}
