// "Add All Word Files In Folder": every file of one extension in a folder tree.

#include "app/Settings.h"
#include "app/SettingsStore.h"
#include "doclist/DocumentList.h"
#include "doclist/FolderListings.h"
#include "doclist/FolderWalk.h"
#include "shell/ErrorTrap.h"
#include "shell/FolderPicker.h"
#include "shell/PathHelpers.h"
#include "shell/Yield.h"
#include "ui/Form1.h"

namespace docuflume {
void Form1::PushButton4_Click()
{
    ErrorTrap line = trap();
    SettingsStore& store = m_platform.settings;
    Prompts& prompts = m_platform.prompts;

    QString extension;
    line(100, [&] {
        extension = prompts.input(
            this,
            QStringLiteral("Enter file extension to load:\r\r(* for all files, txt for all txt "
                           "files, doc for all doc files, etc.)"),
            m_applicationTitle, ReadSetting(store, setting::Extension));
        if (!extension.isEmpty())
            WriteSetting(store, setting::Extension, extension);
    });
    if (line.when(102, [&] { return extension.isEmpty(); }))
        return;
    QString lastFolder;
    QString folder;
    line(104, [&] {
        lastFolder = ReadSetting(store, setting::LastFolder);
        folder =
            BrowseForFolder(prompts, this, QStringLiteral("Please select folder:"), lastFolder);
    });
    if (line.when(106, [&] { return folder.isEmpty(); }))
        return;
    line(333, [&] { lastFolder = folder; });
    line(334, [&] { WriteSetting(store, setting::LastFolder, lastFolder); });
    line(112, [&] { setMousePointer(PointerHourglass); });

    QStringList collection;
    line(114, [&] { collection = {folder + kSeparator}; });
    line(116, [&] { GetSubDirectories2016(prompts, this, collection, true); });
    FolderListings listings(collection, QStringLiteral("*.") + extension);
    for (qsizetype index = 0; index < collection.size(); ++index) {
        // The window keeps repainting while the rows come in.
        YieldToWindowThrottled();
        QString path = collection[index];
        line(120, [&] { path.chop(1); });
        const QStringList names = line.value(
            122, [&] { return listings.take(index); }, QStringList());
        for (const QString& name : names) {
            // Office's own lock and temporary files ("~$report.doc", "~WRL0001.tmp").
            if (line.when(126, [&] { return !name.startsWith(u'~'); })) {
                QString document;
                line(128, [&] { document = path + kSeparator + name; });
                line(132, [&] { m_documents->AddDocument(document); });
            }
        }
    }
    line(136, [&] { setMousePointer(PointerDefault); });
}

} // namespace docuflume
