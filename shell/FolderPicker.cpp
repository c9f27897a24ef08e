#include "shell/FolderPicker.h"

#include "shell/PathHelpers.h"
#include "shell/Prompts.h"

#include <QDir>

namespace docuflume {

QString BrowseForFolder(Prompts& prompts, QWidget* owner, const QString& title,
                        const QString& initialFolder)
{
    QString folder = QDir::toNativeSeparators(prompts.pickFolder(owner, title, initialFolder));
    // A root ("/", "C:\") keeps its separator; any other folder has none at its end.
    while (folder.size() > 1 && folder.endsWith(kSeparator) &&
           !(folder.size() == 3 && folder[1] == u':'))
        folder.chop(1);
    return folder;
}

} // namespace docuflume
