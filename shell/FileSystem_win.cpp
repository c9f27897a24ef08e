#include "shell/FileSystem.h"

#include "shell/Failure.h"

#include <QDir>
#include <QFileInfo>

#include <shlobj.h>
#include <windows.h>

#include <optional>

namespace docuflume::fs {
namespace {

std::wstring nativePath(const QString& path)
{
    return QDir::toNativeSeparators(path).toStdWString();
}

Failure failureFromError(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
        return Failure::fileNotFound();
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_NETPATH:
        return Failure::pathNotFound();
    case ERROR_ACCESS_DENIED:
        return Failure::permissionDenied();
    default:
        return Failure::invalidArgument();
    }
}

// Only the classic bits: the newer ones (not indexed, ...) would spoil exact comparisons.
int classicBits(DWORD attributes)
{
    return static_cast<int>(attributes &
                            (ReadOnly | Hidden | System | Directory | Archive | ReparsePoint));
}

// Calls `visit` for each entry of the folder, in the order the platform lists them; false
// when the folder cannot be listed.
bool forEachEntry(const QString& folder,
                  const std::function<void(const QString& name, int attributes)>& visit)
{
    if (folder.isEmpty() || folder.contains(QChar(0)))
        return false;
    QString pattern = QDir::toNativeSeparators(folder);
    if (!pattern.endsWith(u'\\'))
        pattern += u'\\';
    pattern += u'*';
    WIN32_FIND_DATAW found{};
    const HANDLE search = ::FindFirstFileW(pattern.toStdWString().c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return ::GetLastError() == ERROR_FILE_NOT_FOUND;
    do {
        const QString name = QString::fromWCharArray(found.cFileName);
        if (name == QLatin1String(".") || name == QLatin1String(".."))
            continue;
        visit(name, classicBits(found.dwFileAttributes));
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    return true;
}

} // namespace

int GetAttr(const QString& path)
{
    if (path.isEmpty() || path.contains(QChar(0)))
        throw Failure::fileNotFound();
    // A trailing separator would name what a link leads to rather than the link; a drive's
    // root keeps its own.
    QString named = QDir::toNativeSeparators(path);
    while (named.size() > 1 && named.endsWith(u'\\') && !(named.size() == 3 && named[1] == u':'))
        named.chop(1);
    const DWORD attributes = ::GetFileAttributesW(named.toStdWString().c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        throw failureFromError(::GetLastError());
    return classicBits(attributes);
}

bool canOpenAsFile(const QString& path)
{
    if (path.isEmpty() || path.contains(QChar(0)))
        return false;
    const HANDLE handle =
        ::CreateFileW(nativePath(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                      OPEN_EXISTING, FILE_FLAG_NO_BUFFERING | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    // Only files on a disk are documents: NUL, CON or a pipe open as well.
    const bool onDisk = ::GetFileType(handle) == FILE_TYPE_DISK;
    ::CloseHandle(handle);
    return onDisk;
}

bool canReadModificationTime(const QString& path)
{
    if (path.isEmpty() || path.contains(QChar(0)))
        return false;
    WIN32_FILE_ATTRIBUTE_DATA data{};
    return ::GetFileAttributesExW(nativePath(path).c_str(), GetFileExInfoStandard, &data) != 0;
}

QStringList listOpenableFiles(const QString& folder,
                              const std::function<bool(const QString& name)>& wanted)
{
    QString prefix = QDir::toNativeSeparators(folder);
    if (!prefix.endsWith(u'\\'))
        prefix += u'\\';
    QStringList names;
    forEachEntry(folder, [&](const QString& name, int attributes) {
        if ((attributes & Directory) == 0 && wanted(name) && canOpenAsFile(prefix + name))
            names.append(name);
    });
    return names;
}

bool sameFile(const QString& first, const QString& second)
{
    const auto a = fileIdentity(first);
    const auto b = fileIdentity(second);
    return a && b && a->device == b->device && a->inode == b->inode;
}

bool removeTree(const QString& path)
{
    const DWORD attributes = ::GetFileAttributesW(nativePath(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return ::GetLastError() == ERROR_FILE_NOT_FOUND || ::GetLastError() == ERROR_PATH_NOT_FOUND;
    if (attributes & FILE_ATTRIBUTE_READONLY)
        ::SetFileAttributesW(nativePath(path).c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    // A link or junction to a folder is removed as the folder entry it is, never entered.
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        bool removed = true;
        if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            const QDir folder(path);
            for (const QString& name : folder.entryList(QDir::AllEntries | QDir::Hidden |
                                                        QDir::System | QDir::NoDotAndDotDot))
                removed = removeTree(folder.filePath(name)) && removed;
        }
        return ::RemoveDirectoryW(nativePath(path).c_str()) && removed;
    }
    return ::DeleteFileW(nativePath(path).c_str());
}

bool namesIgnoreCase(const QString& folder)
{
    // Windows ignores case but in folders marked case-sensitive (for Linux programs).
    constexpr ULONG kCaseSensitiveFolder = 0x1; // FILE_CS_FLAG_CASE_SENSITIVE_DIR
    const HANDLE handle =
        ::CreateFileW(reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(folder).utf16()), 0,
                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return true;
    FILE_CASE_SENSITIVE_INFO info{};
    const bool read =
        ::GetFileInformationByHandleEx(handle, FileCaseSensitiveInfo, &info, sizeof info);
    ::CloseHandle(handle);
    return !(read && (info.Flags & kCaseSensitiveFolder));
}

QList<Subfolder> listSubfolders(const QString& folder)
{
    QString prefix = QDir::toNativeSeparators(folder);
    if (!prefix.endsWith(u'\\'))
        prefix += u'\\';
    QList<Subfolder> folders;
    const bool listed = forEachEntry(folder, [&](const QString& name, int attributes) {
        if (!(attributes & Directory))
            return;
        // The identity of where the entry leads, so that a link or junction to a folder met
        // before is not walked again; one that cannot be opened has none.
        const auto identity = folderIdentity(prefix + name);
        folders.append(
            {name, identity ? identity->first : 0, identity ? identity->second : 0, attributes});
    });
    if (!listed)
        throw failureFromError(::GetLastError());
    return folders;
}

std::optional<std::pair<quint64, quint64>> folderIdentity(const QString& folder)
{
    const auto identity = fileIdentity(folder);
    if (!identity)
        return std::nullopt;
    return std::pair(identity->device, identity->inode);
}

std::optional<FileIdentity> fileIdentity(const QString& path)
{
    if (path.isEmpty() || path.contains(QChar(0)))
        return std::nullopt;
    // (Opened through links, and folders too: a file's number is its identity on its volume,
    // whatever name, hard link or short 8.3 alias it is reached by.)
    const HANDLE file = CreateFileW(nativePath(path).c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return std::nullopt;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool read = GetFileInformationByHandle(file, &info);
    CloseHandle(file);
    if (!read)
        return std::nullopt;
    const auto join = [](DWORD high, DWORD low) { return (quint64(high) << 32) | low; };
    // File times count 100-nanosecond steps.
    const qint64 written =
        qint64(join(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime)) * 100;
    return FileIdentity{info.dwVolumeSerialNumber, join(info.nFileIndexHigh, info.nFileIndexLow),
                        qint64(join(info.nFileSizeHigh, info.nFileSizeLow)), written, written};
}

std::optional<QString> desktopFolder()
{
    wchar_t buffer[MAX_PATH] = {};
    if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, 0, buffer)))
        return std::nullopt;
    return QString::fromWCharArray(buffer);
}

} // namespace docuflume::fs
