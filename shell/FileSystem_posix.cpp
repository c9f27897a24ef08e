#include "shell/FileSystem.h"

#include "shell/Failure.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace docuflume::fs {
namespace {

// A path the kernel can take: no embedded NUL, which would silently cut the path short.
std::optional<QByteArray> nativePath(const QString& path)
{
    if (path.isEmpty() || path.contains(QChar(0)))
        return std::nullopt;
    return QFile::encodeName(path);
}

// lstat on "link/" would follow the link, so trailing separators go (but not the root's).
QString withoutTrailingSeparators(QString path)
{
    while (path.size() > 1 && path.endsWith(u'/'))
        path.chop(1);
    return path;
}

Failure failureFromErrno(int error)
{
    switch (error) {
    case ENOENT:
        return Failure::fileNotFound();
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
        return Failure::pathNotFound();
    case EACCES:
    case EPERM:
        return Failure::permissionDenied();
    default:
        return {Failure::InvalidArgument, QString::fromLocal8Bit(std::strerror(error))};
    }
}

// The attribute bits of an entry from what lstat and stat said of it (`target` is null
// when a link's target cannot be read).
int attributesFrom(const struct stat& own, const struct stat* target, QStringView name)
{
    int attributes = 0;
    if (S_ISLNK(own.st_mode))
        attributes |= ReparsePoint;
    if (target) {
        if (S_ISDIR(target->st_mode))
            attributes |= Directory;
        else if (S_ISREG(target->st_mode))
            attributes |= Archive;
        if ((target->st_mode & S_IWUSR) == 0)
            attributes |= ReadOnly;
    }
    if (name.startsWith(u'.'))
        attributes |= Hidden;
    return attributes;
}

} // namespace

int GetAttr(const QString& path)
{
    const QString cleaned = withoutTrailingSeparators(path);
    const auto native = nativePath(cleaned);
    if (!native)
        throw Failure::fileNotFound();

    struct stat own
    {
    };
    if (::lstat(native->constData(), &own) != 0)
        throw failureFromErrno(errno);
    struct stat target = own;
    const bool resolved = !S_ISLNK(own.st_mode) || ::stat(native->constData(), &target) == 0;
    // The root has no name of its own, so it is never hidden.
    const QStringView name = cleaned == QLatin1String("/")
                                 ? QStringView()
                                 : QStringView(cleaned).mid(cleaned.lastIndexOf(u'/') + 1);
    return attributesFrom(own, resolved ? &target : nullptr, name);
}

bool canOpenAsFile(const QString& path)
{
    const auto native = nativePath(path);
    if (!native)
        return false;
    // Only regular files are documents; opening a device may have side effects.
    struct stat info
    {
    };
    if (::stat(native->constData(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    const int fd = ::open(native->constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return false;
    const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    ::close(fd);
    return regular;
}

bool canReadModificationTime(const QString& path)
{
    const auto native = nativePath(path);
    struct stat info
    {
    };
    return native && ::stat(native->constData(), &info) == 0;
}

QStringList listOpenableFiles(const QString& folder,
                              const std::function<bool(const QString& name)>& wanted)
{
    QStringList names;
    const auto native = nativePath(folder);
    if (!native)
        return names;
    DIR* dir = ::opendir(native->constData());
    if (!dir)
        return names;
    const int dirFd = ::dirfd(dir);
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_type == DT_DIR)
            continue;
        const QUtf8StringView raw(entry->d_name);
        if (!raw.isValidUtf8())
            continue;
        const QString name = raw.toString();
        if (!wanted(name))
            continue;
        // A regular file this user may open for reading; asked of the folder directly, it
        // costs one call, and nothing is opened that could block (a FIFO) or act (a device).
        bool regular = entry->d_type == DT_REG;
        if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
            struct stat info
            {
            };
            regular = ::fstatat(dirFd, entry->d_name, &info, 0) == 0 && S_ISREG(info.st_mode);
        }
        regular = regular && ::faccessat(dirFd, entry->d_name, R_OK, AT_EACCESS) == 0;
        if (regular)
            names.append(name);
    }
    ::closedir(dir);
    return names;
}

bool sameFile(const QString& first, const QString& second)
{
    const auto a = nativePath(first);
    const auto b = nativePath(second);
    struct stat infoA
    {
    };
    struct stat infoB
    {
    };
    return a && b && ::stat(a->constData(), &infoA) == 0 && ::stat(b->constData(), &infoB) == 0 &&
           infoA.st_dev == infoB.st_dev && infoA.st_ino == infoB.st_ino;
}

namespace {

QByteArray swappedCase(QByteArray name)
{
    for (char& c : name) {
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
        else if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    }
    return name;
}

// Whether `name` in the folder is found under its other case too: the same entry, another
// one, or none; nothing when the entry itself cannot be read.
std::optional<bool> foundUnderOtherCase(int folder, const QByteArray& name)
{
    struct stat own
    {
    };
    struct stat other
    {
    };
    if (::fstatat(folder, name.constData(), &own, AT_SYMLINK_NOFOLLOW) != 0)
        return std::nullopt;
    if (::fstatat(folder, swappedCase(name).constData(), &other, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? std::optional<bool>(false) : std::nullopt;
    return own.st_dev == other.st_dev && own.st_ino == other.st_ino;
}

} // namespace

namespace {

// Empties the folder open as `folder` (taken over and closed here), looking at each entry
// with lstat: folders are opened without following a link, anything else is unlinked.
bool removeBelow(int folder)
{
    DIR* dir = ::fdopendir(folder);
    if (!dir) {
        ::close(folder);
        return false;
    }
    bool removed = true;
    while (const dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
            continue;
        struct stat info
        {
        };
        if (::fstatat(folder, name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
            removed = removed && errno == ENOENT;
            continue;
        }
        if (S_ISDIR(info.st_mode)) {
            const int child =
                ::openat(folder, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            removed = child >= 0 && removeBelow(child) && removed;
            removed = ::unlinkat(folder, name, AT_REMOVEDIR) == 0 && removed;
        } else {
            removed = ::unlinkat(folder, name, 0) == 0 && removed;
        }
    }
    ::closedir(dir);
    return removed;
}

} // namespace

bool removeTree(const QString& path)
{
    const auto native = nativePath(withoutTrailingSeparators(path));
    if (!native)
        return false;
    struct stat info
    {
    };
    if (::lstat(native->constData(), &info) != 0)
        return errno == ENOENT;
    if (!S_ISDIR(info.st_mode))
        return ::unlink(native->constData()) == 0;
    const int folder = ::open(native->constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folder < 0)
        return false;
    const bool emptied = removeBelow(folder);
    return ::rmdir(native->constData()) == 0 && emptied;
}

bool namesIgnoreCase(const QString& folder)
{
    const auto native = nativePath(withoutTrailingSeparators(folder));
    if (!native)
        return false;
    const int fd = ::open(native->constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    std::optional<bool> answer;
    // The folder's own entries tell, without writing anything...
    if (DIR* dir = ::fdopendir(::dup(fd))) {
        int tried = 0;
        while (const dirent* entry = ::readdir(dir)) {
            const QByteArray name(entry->d_name);
            if (swappedCase(name) == name)
                continue;
            answer = foundUnderOtherCase(fd, name);
            if (answer || ++tried == 64)
                break;
        }
        ::closedir(dir);
    }
    // ...else a probe of ours, removed at once.
    if (!answer) {
        const QByteArray probe = ".docuflume-case-probe-" + QByteArray::number(::getpid()) + '-' +
                                 QByteArray::number(quint64(QDateTime::currentMSecsSinceEpoch()));
        const int file =
            ::openat(fd, probe.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (file >= 0) {
            ::close(file);
            answer = foundUnderOtherCase(fd, probe);
            ::unlinkat(fd, probe.constData(), 0);
        }
    }
    ::close(fd);
    return answer.value_or(false);
}

QList<Subfolder> listSubfolders(const QString& folder)
{
    const auto native = nativePath(folder);
    if (!native)
        throw Failure::pathNotFound();
    DIR* dir = ::opendir(native->constData());
    if (!dir)
        throw errno == ENOENT || errno == ENOTDIR ? Failure::pathNotFound()
                                                  : failureFromErrno(errno);
    QList<Subfolder> folders;
    const int dirFd = ::dirfd(dir);
    while (const dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
            continue;
        if (entry->d_type != DT_DIR && entry->d_type != DT_LNK && entry->d_type != DT_UNKNOWN)
            continue;
        struct stat target
        {
        };
        if (::fstatat(dirFd, name, &target, 0) != 0 || !S_ISDIR(target.st_mode))
            continue;
        // What the entry itself is: the listing said so unless the file system keeps quiet.
        struct stat own = target;
        if (entry->d_type == DT_LNK)
            own.st_mode = S_IFLNK;
        else if (entry->d_type == DT_UNKNOWN &&
                 ::fstatat(dirFd, name, &own, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        // Bytes that are not UTF-8 cannot be written back as the same name.
        const QByteArray raw(name);
        QString text = QString::fromUtf8(raw);
        if (text.toUtf8() != raw)
            text.replace(QChar::ReplacementCharacter, u'?');
        const int attributes = attributesFrom(own, &target, text);
        folders.append({text, quint64(target.st_dev), quint64(target.st_ino), attributes});
    }
    ::closedir(dir);
    return folders;
}

std::optional<std::pair<quint64, quint64>> folderIdentity(const QString& folder)
{
    const auto native = nativePath(folder);
    struct stat info
    {
    };
    if (!native || ::stat(native->constData(), &info) != 0)
        return std::nullopt;
    return std::make_pair(quint64(info.st_dev), quint64(info.st_ino));
}

std::optional<FileIdentity> fileIdentity(const QString& path)
{
    const auto native = nativePath(path);
    struct stat info
    {
    };
    if (!native || ::stat(native->constData(), &info) != 0)
        return std::nullopt;
    const auto nanoseconds = [](const timespec& time) {
        return qint64(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
    };
    return FileIdentity{quint64(info.st_dev), quint64(info.st_ino), qint64(info.st_size),
                        nanoseconds(info.st_mtim), nanoseconds(info.st_ctim)};
}

std::optional<QString> desktopFolder()
{
    // The XDG desktop folder; machines without one keep their files in the home folder.
    for (const auto location : {QStandardPaths::DesktopLocation, QStandardPaths::HomeLocation}) {
        const QString path = QStandardPaths::writableLocation(location);
        if (!path.isEmpty() && QFileInfo(path).isDir())
            return QDir::cleanPath(path);
    }
    return std::nullopt;
}

} // namespace docuflume::fs
