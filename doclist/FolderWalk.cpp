#include "doclist/FolderWalk.h"

#include "shell/ErrorTrap.h"
#include "shell/FileSystem.h"
#include "shell/PathHelpers.h"
#include "shell/Yield.h"

#include <QHash>
#include <QSet>

#include <climits>

namespace docuflume {
namespace {

const QString kLocation = QStringLiteral("in Tessavoy2021/08/31.AddFolder.GetSubDirectories2016 ");

// The platform's own path limit (Windows compilers need not define PATH_MAX).
#ifdef _WIN32
constexpr qsizetype kPathLimit = 260; // MAX_PATH
#else
constexpr qsizetype kPathLimit = PATH_MAX;
#endif

// Hidden + system + directory, with or without the reparse point: folders the system
// keeps for itself.
bool isSystemFolder(int attributes)
{
    return attributes == 22 || attributes == 1046;
}

bool isRoot(const QString& folder)
{
    QString rest = folder;
    while (rest.endsWith(kSeparator))
        rest.chop(1);
    return rest.isEmpty() || (rest.size() == 2 && rest[1] == u':');
}

using Identity = std::pair<quint64, quint64>;

struct Walk
{
    Prompts& prompts;
    QWidget* owner;
    QSet<Identity> seen; // every folder met so far, so that none is walked twice
    // The attributes of every folder found, as its parent's listing gave them. A folder is
    // tested before it is listed and again at every level above it as the levels are
    // gathered; asking the disk each time would make a deep walk many times slower. The
    // keys share the collection's strings.
    QHash<QString, int> found;
};

int attributesOf(const Walk& context, const QString& folder)
{
    const auto known = context.found.constFind(folder);
    return known != context.found.cend() ? *known : fs::GetAttr(folder);
}

bool isFolder(const Walk& context, const QString& folder)
{
    try {
        return (attributesOf(context, folder) & fs::Directory) != 0;
    } catch (const Failure&) {
        return false;
    }
}

void walk(Walk& context, QStringList& folders, bool recurse)
{
    ErrorTrap line(context.prompts, context.owner, kLocation);
    QStringList fresh;
    line(104, [&] { fresh.clear(); });

    // Only the folders present now are examined; removing one moves the rest up.
    qsizetype remaining = folders.size();
    qsizetype index = 0;
    // Until a first folder passes the test, a failure is reported; from then on it ends
    // only the folder being examined, without a word.
    bool skipping = false;
    while (remaining-- > 0 && index < folders.size()) {
        const QString folder = folders[index];
        auto listable = [&] {
            return isRoot(folder) || !isSystemFolder(attributesOf(context, folder));
        };
        bool remove = false;
        try {
            bool examine = false;
            if (!skipping) {
                if (line.when(108, [&] { return isFolder(context, folder); }) &&
                    line.when(110, [&] { return folder.size() < kPathLimit; })) {
                    line(114, [] { YieldToWindowThrottled(); });
                    examine = line.when(116, listable);
                }
            } else if (isFolder(context, folder) && folder.size() < kPathLimit) {
                YieldToWindowThrottled();
                examine = listable();
            }
            if (examine) {
                skipping = true;
                for (const fs::Subfolder& sub : fs::listSubfolders(folder)) {
                    YieldToWindowThrottled();
                    const QString& name = sub.name;
                    if (name.size() >= kPathLimit || HasUnsafeChars(name) || name.contains(u'?') ||
                        name == QLatin1String(".") || name == QLatin1String(".."))
                        continue;
                    if (sub.device || sub.inode) {
                        const Identity identity{sub.device, sub.inode};
                        if (context.seen.contains(identity))
                            continue;
                        context.seen.insert(identity);
                    }
                    fresh.append(folder + name + kSeparator);
                    context.found.insert(fresh.constLast(), sub.attributes);
                }
            }
        } catch (const Failure& failure) {
            remove = failure.number() == Failure::PermissionDenied ||
                     failure.number() == Failure::PathNotFound;
        }
        if (remove)
            folders.removeAt(folders.indexOf(folder));
        else
            ++index;
    }

    if (line.when(150, [&] { return recurse && !fresh.isEmpty(); }))
        line(150, [&] { walk(context, fresh, true); });
    for (const QString& next : std::as_const(fresh)) {
        if (line.when(154, [&] { return isFolder(context, next); })) {
            line(156, [] { YieldToWindowThrottled(); });
            if (line.when(158, [&] {
                    return isRoot(next) || !isSystemFolder(attributesOf(context, next));
                }))
                line(160, [&] { folders.append(next); });
        }
    }
}

} // namespace

bool HasUnsafeChars(const QString& name)
{
    for (const QChar c : name) {
        const ushort code = c.unicode();
        if (code < 32 || (code >= 127 && code <= 159) || code == u'?' ||
            c == QChar::ReplacementCharacter)
            return true;
    }
    return false;
}

void GetSubDirectories2016(Prompts& prompts, QWidget* owner, QStringList& folders, bool recurse)
{
    Walk context{prompts, owner, {}, {}};
    for (const QString& folder : std::as_const(folders)) {
        if (const auto identity = fs::folderIdentity(folder))
            context.seen.insert(*identity);
    }
    walk(context, folders, recurse);
}

} // namespace docuflume
