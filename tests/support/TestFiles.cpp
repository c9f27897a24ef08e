#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#ifdef Q_OS_WIN
#include <QDeadlineTimer>
#include <QThread>

#include <windows.h>
#endif

namespace docuflume::test {

QString touchFile(const QString& path, const QByteArray& contents, std::source_location caller)
{
    QFile file(path);
    if (!QDir().mkpath(QFileInfo(path).absolutePath()) || !file.open(QIODevice::WriteOnly) ||
        file.write(contents) != contents.size() || !file.flush())
        QTest::qFail(qPrintable(QStringLiteral("cannot make ") + path), caller.file_name(),
                     int(caller.line()));
    return path;
}

#ifdef Q_OS_WIN

namespace {

std::wstring wide(const QString& path)
{
    return QDir::toNativeSeparators(path).toStdWString();
}

// Wine makes no links of its own and removes none of the host's, but shows the host's
// symbolic links as Windows shows its own (reparse points), and starts host programs.
bool underWine()
{
    return ::GetProcAddress(::GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name");
}

QString hostPath(const QString& path)
{
    using UnixName = char*(__cdecl*)(const wchar_t*);
    const auto unixName = reinterpret_cast<UnixName>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name")));
    char* name = unixName(wide(path).c_str());
    const QString host = name ? QString::fromLocal8Bit(name) : QString();
    ::HeapFree(::GetProcessHeap(), 0, name);
    return host;
}

// Runs the shell command with $0 and $1 set, on the host, and waits until it is done. (A
// host program's end cannot be waited for through its handle, and a dangling link is never
// listed: a mark the command leaves tells.)
bool onHost(const QString& command, const QString& first, const QString& second,
            const QString& mark)
{
    const auto quoted = [](QString argument) {
        return L'"' + argument.replace(u'"', QStringLiteral("\\\"")).toStdWString() + L'"';
    };
    std::wstring line = L"/bin/sh -c " + quoted(command + QStringLiteral(" && touch \"$2\"")) +
                        L' ' + quoted(hostPath(first)) + L' ' + quoted(hostPath(second)) + L' ' +
                        quoted(hostPath(mark));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(L"Z:\\bin\\sh", line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &process))
        return false;
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    QDeadlineTimer deadline(10000);
    while (!QFile::exists(mark) && !deadline.hasExpired())
        QThread::msleep(10);
    return QFile::remove(mark);
}

} // namespace

Link::Link(const QString& target, const QString& path) : m_path(path)
{
    if (underWine()) {
        m_made = onHost(QStringLiteral("ln -s \"$0\" \"$1\""), target, path,
                        path + QStringLiteral(".made"));
    } else {
        m_folder = QFileInfo(target).isDir();
        const DWORD flags = (m_folder ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0) |
                            SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE;
        m_made = ::CreateSymbolicLinkW(wide(path).c_str(), wide(target).c_str(), flags);
    }
}

Link::~Link()
{
    if (!m_made)
        return;
    if (underWine())
        onHost(QStringLiteral("rm -f \"$1\""), m_path, m_path, m_path + QStringLiteral(".gone"));
    else if (m_folder)
        ::RemoveDirectoryW(wide(m_path).c_str());
    else
        ::DeleteFileW(wide(m_path).c_str());
}

QString hide(const QString& path)
{
    const DWORD attributes = ::GetFileAttributesW(wide(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES ||
        !::SetFileAttributesW(wide(path).c_str(), attributes | FILE_ATTRIBUTE_HIDDEN))
        QTest::qFail(qPrintable(QStringLiteral("cannot hide ") + path), __FILE__, __LINE__);
    return path;
}

#else

Link::Link(const QString& target, const QString& path)
    : m_path(path), m_made(QFile::link(target, path))
{}

Link::~Link()
{
    if (m_made)
        QFile::remove(m_path);
}

QString hide(const QString& path)
{
    return path;
}

#endif

} // namespace docuflume::test
