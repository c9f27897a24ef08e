// The Start button of the main window: the batch conversion run.

#include "convert/ExportDocument.h"
#include "convert/PageNames.h"
#include "convert/WordInstance.h"
#include "doclist/DocumentList.h"
#include "shell/ErrorTrap.h"
#include "shell/FileSystem.h"
#include "shell/PathHelpers.h"
#include "shell/Yield.h"
#include "ui/Form1.h"
#include "ui/ProgressBar.h"

#include <QLineEdit>

#include <optional>

namespace docuflume {
namespace {

// Tells the engine what the run converts next, as the list and the options stand now: the
// entry at its turn (whose page is `page`) and those after it, as many as the engine converts
// ahead, each under the name its turn will give it.
void PlanAhead(WordAutomation* word, const DocumentList& documents, int from, const QString& page,
               PageNames names, const QString& folder,
               const std::optional<int>& fileFormat) noexcept
{
    const int wanted = word ? word->aheadCapacity() : 0;
    if (wanted <= 0)
        return;
    QList<PlannedExport> next;
    try {
        for (int k = from; fileFormat && k <= documents.DocumentCount() && next.size() < wanted;
             ++k) {
            const QString source = documents.DocumentText(k);
            next.append({source, k == from ? page : names.claim(HtmlOutputPath(folder, source)),
                         *fileFormat});
        }
    } catch (...) {
        // A plan is only a saving; each entry is converted at its turn in any case.
    }
    word->planAhead(next);
}

} // namespace

void Form1::PushButton2_Click()
{
    ErrorTrap line = trap();
    if (line.when(100, [&] { return Converting; }))
        return;
    line(102, [&] { Converting = true; });

    if (line.when(104, [&] { return !(m_documents->DocumentCount() > 0); })) {
        line(160, [&] { MsgBox(QStringLiteral("No files added.")); });
    } else if (line.when(106, [&] { return !IsFolder(Text1->text()); })) {
        line(158, [&] {
            MsgBox(QStringLiteral("Folder does not exist. Please select another folder."));
        });
    } else if (line.when(108, [&] {
                   return WarnIfWordOpen(m_platform.automation, m_platform.prompts, this,
                                         m_applicationTitle);
               })) {
        // The user chose not to go on while the word processor is open.
    } else {
        std::optional<BatchScope> batch(std::in_place, m_platform.automation);
        PageNames pages(fs::namesIgnoreCase);
        const int count = line.value(
            110, [&] { return m_documents->DocumentCount(); }, 0);
        for (int i = 1; i <= count; ++i) {
            // Entries removed while the run yielded take their positions with them.
            if (i > m_documents->DocumentCount())
                break;
            QString source;
            line(112, [&] { source = m_documents->DocumentText(i); });
            line(114, [&] {
                const double position = double(i) / m_documents->DocumentCount() * 100;
                ProgressBar1->setValue(qMin(100, qRound(position)));
            });
            line(116,
                 [&] { setProgressText(QStringLiteral("Processing: ") + GetFileName(source)); });
            line(118, [&] { YieldToWindow(); });
            line(120, [&] { setMousePointer(PointerHourglass); });

            // The output name is the file name less its last "."-part, plus ".htm".
            QStringList pieces;
            QString fileName;
            QStringList nameParts;
            QString outputName;
            QString outputPath;
            line(122, [&] { pieces = source.split(kSeparator); });
            line(124, [&] { fileName = pieces.last(); });
            line(126, [&] { nameParts = fileName.split(u'.'); });
            line(128, [&] { outputName.clear(); });
            for (qsizetype k = 0; k + 1 < nameParts.size(); ++k)
                line(132, [&] { outputName += nameParts[k] + u'.'; });
            line(136, [&] {
                // A name without any "." keeps the whole name.
                outputName = nameParts.size() > 1 ? outputName.chopped(1) + QStringLiteral(".htm")
                                                  : fileName + QStringLiteral(".htm");
            });
            line(138, [&] { outputPath = Text1->text() + kSeparator + outputName; });
            line(140, [&] { outputPath = CollapseDoubleBackslashes(outputPath); });
            // A name an earlier document of this run has taken goes to "name (2).htm", ...
            line(141, [&] { outputPath = pages.claim(outputPath); });
            PlanAhead(m_platform.automation, *m_documents, i, outputPath, pages, Text1->text(),
                      SelectedFileFormat());
            line(142, [&] { setMousePointer(PointerHourglass); });
            line(144, [&] {
                ExportDocument(
                    m_platform.automation, [this] { return SelectedFileFormat(); }, source,
                    outputPath);
            });
            line(146, [&] { setMousePointer(PointerHourglass); });
            if (m_platform.automation && m_platform.automation->batchStopped())
                break;
        }
        batch.reset(); // nothing readied ahead outlives the documents
        line(150, [&] { setMousePointer(PointerDefault); });
        line(152, [&] { ProgressBar1->setValue(0); });
        line(154, [&] { setProgressText(QStringLiteral("Progress Bar")); });
        line(156, [&] { MsgBox(QStringLiteral("Done.")); });
    }
    line(162, [&] { Converting = false; });
}

} // namespace docuflume
