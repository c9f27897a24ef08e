#include "convert/ExportDocument.h"

#include "convert/ExportSteps.h"
#include "shell/Failure.h"
#include "shell/FileSystem.h"
#include "shell/PathHelpers.h"

namespace docuflume {

QList<NamedArgument> SaveAsArguments(const QString& outputPath, int fileFormat)
{
    return {
        {QStringLiteral("fileName"), outputPath},
        {QStringLiteral("FileFormat"), fileFormat},
        {QStringLiteral("LockComments"), false},
        {QStringLiteral("Password"), QString()},
        {QStringLiteral("AddToRecentFiles"), true},
        {QStringLiteral("WritePassword"), QString()},
        {QStringLiteral("ReadOnlyRecommended"), false},
        {QStringLiteral("EmbedTrueTypeFonts"), false},
        {QStringLiteral("SaveNativePictureFormat"), false},
        {QStringLiteral("SaveFormsData"), false},
        {QStringLiteral("SaveAsAOCELetter"), false},
    };
}

QString HtmlOutputPath(const QString& folder, const QString& source)
{
    // The same steps as the batch run takes for the document at its turn.
    const QString fileName = source.split(kSeparator).last();
    QStringList nameParts = fileName.split(u'.');
    QString outputName = fileName;
    if (nameParts.size() > 1) {
        nameParts.removeLast();
        outputName = nameParts.join(u'.');
    }
    return CollapseDoubleBackslashes(folder + kSeparator + outputName + QStringLiteral(".htm"));
}

bool IsWordDocumentName(const QString& fileName)
{
    static const QStringList word = {QStringLiteral("doc"),  QStringLiteral("docx"),
                                     QStringLiteral("docm"), QStringLiteral("dot"),
                                     QStringLiteral("dotx"), QStringLiteral("dotm"),
                                     QStringLiteral("rtf"),  QStringLiteral("wbk")};
    const qsizetype dot = fileName.lastIndexOf(u'.');
    return dot >= 0 && word.contains(fileName.sliced(dot + 1), Qt::CaseInsensitive);
}

void ExportDocument(WordAutomation* word, const FlavourReader& flavour, const QString& sourcePath,
                    const QString& outputPath)
{
    if (!word)
        throw Failure(Failure::AutomationError,
                      QStringLiteral("No word processor is available to convert documents."));
    // A document named like its own output (a.htm converted into its own folder) would be
    // replaced by the conversion.
    if (fs::sameFile(sourcePath, outputPath))
        throw Failure(
            Failure::PermissionDenied,
            QStringLiteral("The HTML file would replace the document itself: %1").arg(outputPath));

    RunExportSteps(*word, sourcePath, [&](WordDocument& document) {
        if (const std::optional<int> fileFormat = flavour())
            document.saveAs(SaveAsArguments(outputPath, *fileFormat));
    });
}

} // namespace docuflume
