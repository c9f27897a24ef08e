// Converts real documents through the LibreOffice engine, one fresh instance per document,
// and compares with LibreOffice's own command line on the same files:
//   - once per file (a fresh office for every document, as the engine does), and
//   - once for all files (one office for the whole set: the floor).
// Prints seconds per document.
//
//     bench_convert [DOCUMENT...]    (default: the small documents of the shared corpus)

#include "convert/ExportDocument.h"
#include "convert/LibreOfficeAutomation.h"
#include "convert/OfficeProcess.h"
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

const QStringList kCorpusDocuments = {QStringLiteral("raw_text.doc"),
                                      QStringLiteral("standardized_text.doc"),
                                      QStringLiteral("paragraphs_and_tables.docx"),
                                      QStringLiteral("raw_text.rtf"),
                                      QStringLiteral("tables.docx"),
                                      QStringLiteral("notes.docx"),
                                      QStringLiteral("image.docx"),
                                      QStringLiteral("unicode.docx"),
                                      QStringLiteral("i18n_blocks.docx"),
                                      QStringLiteral("lists.docx"),
                                      QStringLiteral("comments.docx"),
                                      QStringLiteral("doc-odd-even-hdrs.docx"),
                                      QStringLiteral("having-images.docx"),
                                      QStringLiteral("tables.rtf"),
                                      QStringLiteral("unicode.rtf"),
                                      QStringLiteral("textbox_image.docx"),
                                      QStringLiteral("track_changes_move.docx"),
                                      QStringLiteral("strict-format.docx"),
                                      QStringLiteral("diagram.docx"),
                                      QStringLiteral("utf8-bom.docx")};

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
        const QString corpus = QStringLiteral(DOCUFLUME_SOURCE_DIR "/../shared/corpus/dev");
        for (const QString& name : kCorpusDocuments)
            documents << QDir(corpus).absoluteFilePath(name);
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
    const QString profile = QStringLiteral("-env:UserInstallation=") +
                            QUrl::fromLocalFile(work.filePath(QStringLiteral("cli"))).toString();
    const QStringList common = {QStringLiteral("--headless"), QStringLiteral("--norestore"),
                                profile, QStringLiteral("--convert-to"), QStringLiteral("html")};
    // Both sides start from profiles that have run once, so neither pays first-run costs.
    runOffice(soffice,
              common + QStringList{QStringLiteral("--outdir"),
                                   work.filePath(QStringLiteral("warm")), documents.first()});

    auto engineRun = [&](const char* label, bool startAhead) {
        LibreOfficeOptions options;
        options.profileRoot = work.filePath(QStringLiteral("engine"));
        options.startAhead = startAhead;
        const auto engine = makeLibreOfficeAutomation(options);
        const QString out = work.filePath(QStringLiteral("engine-out"));
        QDir().mkpath(out);
        ExportDocument(
            engine.get(), [] { return std::optional<int>(HtmlNormal); }, documents.first(),
            out + QStringLiteral("/warm.htm"));
        int failed = 0;
        QElapsedTimer timer;
        timer.start();
        for (const QString& document : documents) {
            try {
                ExportDocument(
                    engine.get(), [] { return std::optional<int>(HtmlNormal); }, document,
                    out + u'/' + QFileInfo(document).completeBaseName() + QStringLiteral(".htm"));
            } catch (const Failure& failure) {
                ++failed;
                std::fprintf(stderr, "  %s: %s\n", qPrintable(QFileInfo(document).fileName()),
                             qPrintable(failure.description()));
            }
        }
        const double seconds = timer.nsecsElapsed() / 1e9;
        std::printf("%-46s %6.3f s/document  (%d of %d failed)\n", label, seconds / n, failed,
                    int(n));
        return seconds / n;
    };

    std::printf("%d documents, LibreOffice in %s\n", int(n),
                qPrintable(installation->programFolder));
    const double ours = engineRun("Docuflume engine, a fresh instance each", true);
    engineRun("Docuflume engine, without starting ahead", false);

    QElapsedTimer timer;
    timer.start();
    for (const QString& document : documents)
        runOffice(soffice, common + QStringList{QStringLiteral("--outdir"),
                                                work.filePath(QStringLiteral("each")), document});
    const double perFile = timer.nsecsElapsed() / 1e9 / n;
    std::printf("%-46s %6.3f s/document\n", "soffice --convert-to, once per file", perFile);

    timer.restart();
    runOffice(soffice,
              common +
                  QStringList{QStringLiteral("--outdir"), work.filePath(QStringLiteral("all"))} +
                  documents);
    const double floor = timer.nsecsElapsed() / 1e9 / n;
    std::printf("%-46s %6.3f s/document\n", "soffice --convert-to, once for all files", floor);

    std::printf("engine / once per file: %.2f (target at most 0.30)\n", ours / perFile);
    std::printf("engine / one process:   %.2f (target at most 2.00)\n", ours / floor);
    return 0;
}
