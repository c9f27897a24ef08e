#pragma once

#include <QString>
#include <QStringList>

namespace docuflume {

// What a run of separators at the start of a path stands for.
enum class LeadingSeparators {
    NetworkPair, // "\\server\share": the run becomes exactly two
    Root,        // "/home": the run becomes one
};

#ifdef Q_OS_WIN
inline constexpr char16_t kSeparator = u'\\';
inline constexpr LeadingSeparators kLeadingSeparators = LeadingSeparators::NetworkPair;
#else
inline constexpr char16_t kSeparator = u'/';
inline constexpr LeadingSeparators kLeadingSeparators = LeadingSeparators::Root;
#endif

// The text after the last separator; the whole path when it has none.
QString GetFileName(const QString& path, QChar separator = kSeparator);

// Doubled separators made single in one left-to-right pass. A leading run of separators
// becomes exactly two where it marks a network path, and one where it is the root.
QString CollapseDoubleBackslashes(const QString& path, QChar separator = kSeparator,
                                  LeadingSeparators leading = kLeadingSeparators);

// True when the path names a folder; False when it does not or cannot be examined.
bool IsFolder(const QString& path);

// True when the modification time of what the path names can be read.
bool PathExists(const QString& path);

// True when the path names a file that can be opened; a folder gives False.
bool IsExistingFile(const QString& path);

// The names of the files of one folder that match the pattern ("*" any run, "?" any one
// character, case ignored) and can be opened, hidden files included, folders left out, in
// the order the file system lists them. Empty when there are none.
QStringList ListFilesByPattern(const QString& folder, const QString& pattern);

// The special folder's path followed by one NUL and blanks up to 512 characters, or the
// empty string when the folder cannot be resolved. Only the desktop (0) is known here.
QString GetSpecialFolderBuffer(int folderId);

// The desktop folder's path with one trailing separator. Throws a Failure when the desktop
// cannot be resolved.
QString GetDesktopPath();

// Wildcard match of a file name against a pattern, case ignored. A trailing ".*" also
// matches a name without any extension, so "*.*" matches every name.
bool MatchesWildcard(const QString& name, const QString& pattern);

} // namespace docuflume
