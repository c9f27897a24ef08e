// "Load Sample/Example Files": the documents that ship in "Samples" beside the program.

#include "doclist/DocumentList.h"
#include "shell/ErrorTrap.h"
#include "shell/PathHelpers.h"
#include "ui/Form1.h"

#include <QDir>
#include <QUrl>

namespace docuflume {
void Form1::AddSampleDocuments(DocumentList& list)
{
    // Listed as every intake lists a document: with the platform's separators.
    const QString folder = QDir::toNativeSeparators(programFile(QStringLiteral("Samples")));
    // The only intake that never lists a document twice.
    for (const QString& name : ListFilesByPattern(folder, QStringLiteral("*.*"))) {
        const QString path = folder + kSeparator + name;
        if (!PathExists(path) || list.ContainsDocument(path))
            continue;
        list.AddDocument(path);
    }
    const MessageAnswer answer = MsgBox(
        QStringLiteral("Would you like this software to open the folder where these sample "
                       "files are stored (so that you can view them before working with them)?"),
        MessageButtons::YesNo);
    if (answer == MessageAnswer::Yes)
        m_platform.prompts.openWithDesktop(QUrl::fromLocalFile(folder + kSeparator));
}

void Form1::PushButton5_Click()
{
    ErrorTrap line = trap();
    line(100, [&] { AddSampleDocuments(*m_documents); });
}

} // namespace docuflume
