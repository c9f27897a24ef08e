#pragma once

#include <QList>
#include <QString>

#include <functional>
#include <optional>

// The file-system calls that differ between platforms. Everything else in the program
// reaches files through these and the path helpers built on them.
namespace docuflume::fs {

// The platform's attribute bits, in the classic numbering.
enum Attribute : int {
    ReadOnly = 1,
    Hidden = 2,
    System = 4,
    Directory = 16,
    Archive = 32,
    ReparsePoint = 1024,
};

// The attribute value of what the path names; throws a Failure when it cannot be read.
int GetAttr(const QString& path);

// True when the path names a regular file that this user can open: never a folder, a FIFO,
// a pipe or a device (NUL, /dev/null). Never blocks.
bool canOpenAsFile(const QString& path);

// True when the last-modified time of what the path names can be read.
bool canReadModificationTime(const QString& path);

// The names of the files in a folder that `wanted` accepts and that can be opened as
// regular files, in the order the platform lists them; folders, FIFOs and devices are left
// out, and so are names the file-name encoding cannot represent. Nothing when the folder
// cannot be listed.
QStringList listOpenableFiles(const QString& folder,
                              const std::function<bool(const QString& name)>& wanted);

// True when both paths name one and the same existing file, by any name or link.
bool sameFile(const QString& first, const QString& second);

// True when the file system of `folder` takes two names that differ only in case for one
// and the same file (FAT, NTFS, a case-folding ext4 folder). Decided from the folder itself
// where it can be; when it cannot be read, the platform's usual answer (false on Linux, true
// on Windows).
bool namesIgnoreCase(const QString& folder);

// Removes what the path names, a folder with everything in it, without ever following a
// link: a link (or junction) is removed as a link, at the top and inside. True when
// nothing of it is left.
bool removeTree(const QString& path);

// One entry of a folder listing: its name, an identity that tells two names for the same
// folder (links) apart from two folders, and its attributes as GetAttr gives them.
struct Subfolder
{
    QString name; // characters the file-name encoding cannot represent read as "?"
    quint64 device = 0;
    quint64 inode = 0;
    int attributes = 0;
};

// The folders in a folder (links to folders included), in the order the platform lists
// them. Throws a Failure: permission denied (70) or path not found (76) among them.
QList<Subfolder> listSubfolders(const QString& folder);

// The identity of a folder, as listSubfolders gives it; nothing when it cannot be read.
std::optional<std::pair<quint64, quint64>> folderIdentity(const QString& folder);

// What tells one state of a file from another: the same file (device and number) with the
// same size, last written and last changed at the same moments. A file written, replaced
// or renamed over since has another identity.
struct FileIdentity
{
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = 0;
    qint64 modified = 0; // nanoseconds
    qint64 changed = 0;  // nanoseconds; the status change where the platform has one
    bool operator==(const FileIdentity&) const = default;
};

// The identity of the file the path names, following links; nothing when it cannot be read.
std::optional<FileIdentity> fileIdentity(const QString& path);

// The desktop folder's path, or nothing when it cannot be resolved.
std::optional<QString> desktopFolder();

} // namespace docuflume::fs
