// Files and folders dropped onto the document list.

#include "doclist/DocumentList.h"
#include "doclist/FolderListings.h"
#include "doclist/FolderWalk.h"
#include "shell/ErrorTrap.h"
#include "shell/FileSystem.h"
#include "shell/PathHelpers.h"
#include "shell/Yield.h"
#include "ui/Form1.h"

#include <QDir>
#include <QMimeData>
#include <QScopedValueRollback>
#include <QUrl>

namespace docuflume {
namespace {

// Archive + hidden: a dot file of the user's tools (".DS_Store", ".~lock..."), not a document.
constexpr int kHiddenArchive = fs::Hidden | fs::Archive;

QStringList droppedPaths(const QMimeData* dragged)
{
    QStringList paths;
    for (const QUrl& url : dragged->urls()) {
        if (url.isLocalFile())
            paths << QDir::toNativeSeparators(url.toLocalFile());
    }
    return paths;
}

} // namespace

void Form1::AddPathsAsDropped(const QStringList& paths)
{
    QList<QUrl> urls;
    for (const QString& path : paths)
        urls << QUrl::fromLocalFile(QDir::fromNativeSeparators(path));
    QMimeData dropped;
    dropped.setUrls(urls);
    ListView1_OLEDragDrop(&dropped);
}

bool Form1::ListView1_OLEDragOver(const QMimeData* dragged)
{
    return dragged && !droppedPaths(dragged).isEmpty();
}

void Form1::ListView1_OLEDragDrop(const QMimeData* dragged)
{
    if (!dragged)
        return;
    ErrorTrap line = trap();
    for (const QString& dropped : droppedPaths(dragged)) {
        if (!line.when(100, [&] { return IsFolder(dropped); })) {
            line(102, [&] { m_documents->AddDocument(dropped); });
            continue;
        }
        // Closing the window while a dropped folder is expanded ends the program at once.
        const QScopedValueRollback expanding(m_expandingDrop, true);
        QStringList collection;
        line(104, [&] { collection = {dropped + kSeparator}; });
        line(106, [&] { GetSubDirectories2016(m_platform.prompts, this, collection, true); });
        FolderListings listings(collection, QStringLiteral("*.*"));
        for (qsizetype index = 0; index < collection.size(); ++index) {
            YieldToWindowThrottled();
            const QString folder = collection[index].chopped(1);
            const QStringList names = line.value(
                108, [&] { return listings.take(index); }, QStringList());
            for (const QString& name : names) {
                if (name.startsWith(u'~'))
                    continue;
                const QString path = folder + kSeparator + name;
                // The listing found each file readable; one that cannot be read by its path
                // now (gone since, or beyond the path limit) is reported and left out, and
                // the drop goes on.
                if (line.value(
                        110, [&] { return fs::GetAttr(path) != kHiddenArchive; }, false))
                    line(112, [&] { m_documents->AddDocument(CollapseDoubleBackslashes(path)); });
            }
        }
    }
}

} // namespace docuflume
