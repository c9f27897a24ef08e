#include "shell/PathHelpers.h"

#include "shell/Failure.h"
#include "shell/FileSystem.h"

namespace docuflume {
namespace {

constexpr int kSpecialFolderBufferSize = 512;
constexpr int kDesktopFolderId = 0;

// One left-to-right pass that never looks at what it has just produced.
QString collapseOnce(QStringView text, QChar separator)
{
    QString result;
    result.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        result += text[i];
        if (text[i] == separator && i + 1 < text.size() && text[i + 1] == separator)
            ++i;
    }
    return result;
}

bool sameLetter(QChar a, QChar b)
{
    return a == b || a.toCaseFolded() == b.toCaseFolded();
}

bool matches(QStringView name, QStringView pattern)
{
    qsizetype n = 0;
    qsizetype p = 0;
    qsizetype starAt = -1;  // pattern position after the last "*"
    qsizetype resumeAt = 0; // name position that "*" has swallowed up to
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == u'*') {
            starAt = ++p;
            resumeAt = n;
        } else if (p < pattern.size() && (pattern[p] == u'?' || sameLetter(pattern[p], name[n]))) {
            ++p;
            ++n;
        } else if (starAt >= 0) {
            p = starAt;
            n = ++resumeAt;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*')
        ++p;
    return p == pattern.size();
}

} // namespace

QString GetFileName(const QString& path, QChar separator)
{
    return path.mid(path.lastIndexOf(separator) + 1);
}

QString CollapseDoubleBackslashes(const QString& path, QChar separator, LeadingSeparators leading)
{
    if (!path.startsWith(separator))
        return collapseOnce(path, separator);
    qsizetype lead = 0;
    while (lead < path.size() && path[lead] == separator)
        ++lead;
    const int kept = leading == LeadingSeparators::NetworkPair ? 2 : 1;
    return QString(kept, separator) + collapseOnce(QStringView(path).mid(lead), separator);
}

bool IsFolder(const QString& path)
{
    try {
        return (fs::GetAttr(path) & fs::Directory) != 0;
    } catch (const Failure&) {
        return false;
    }
}

bool PathExists(const QString& path)
{
    return fs::canReadModificationTime(path);
}

bool IsExistingFile(const QString& path)
{
    return fs::canOpenAsFile(path);
}

bool MatchesWildcard(const QString& name, const QString& pattern)
{
    if (matches(name, pattern))
        return true;
    return pattern.endsWith(QLatin1String(".*")) && matches(name, QStringView(pattern).chopped(2));
}

QStringList ListFilesByPattern(const QString& folder, const QString& pattern)
{
    QString withSeparator = folder;
    if (!withSeparator.endsWith(kSeparator))
        withSeparator += kSeparator;
    return fs::listOpenableFiles(
        withSeparator, [&](const QString& name) { return MatchesWildcard(name, pattern); });
}

QString GetSpecialFolderBuffer(int folderId)
{
    if (folderId != kDesktopFolderId)
        return {};
    const auto path = fs::desktopFolder();
    if (!path)
        return {};
    QString buffer = *path + QChar(0);
    if (buffer.size() < kSpecialFolderBufferSize)
        buffer += QString(kSpecialFolderBufferSize - buffer.size(), u' ');
    return buffer;
}

QString GetDesktopPath()
{
    const QString buffer = GetSpecialFolderBuffer(kDesktopFolderId);
    const qsizetype end = buffer.lastIndexOf(QChar(0));
    if (end < 0)
        throw Failure::invalidArgument();
    QString path = buffer.left(end);
    if (!path.endsWith(kSeparator))
        path += kSeparator;
    return path;
}

} // namespace docuflume
