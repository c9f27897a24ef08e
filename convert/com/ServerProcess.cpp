#include "convert/com/ServerProcess.h"

#include <tlhelp32.h>

#include <utility>

namespace docuflume::com {
namespace {

// A key's default value in one registry view; REG_SZ, or REG_EXPAND_SZ expanded.
std::wstring defaultValue(const std::wstring& key, REGSAM view)
{
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_QUERY_VALUE | view, &opened) !=
        ERROR_SUCCESS)
        return {};
    wchar_t value[2048];
    DWORD size = sizeof value;
    const LSTATUS read =
        RegGetValueW(opened, nullptr, nullptr, RRF_RT_REG_SZ, nullptr, value, &size);
    RegCloseKey(opened);
    return read == ERROR_SUCCESS ? std::wstring(value) : std::wstring();
}

bool isFile(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The file a name on a command line runs: ".exe" is added to a name without an extension.
std::wstring runnable(const std::wstring& name)
{
    if (isFile(name))
        return name;
    const size_t dot = name.find_last_of(L'.');
    if (dot == std::wstring::npos || dot < name.find_last_of(L"\\/") + 1) {
        if (isFile(name + L".exe"))
            return name + L".exe";
    }
    return {};
}

// The program a command line runs, found as CreateProcess finds it: the quoted part; or,
// unquoted, the first of its leading runs of words (up to the first space, the second, ...)
// that names a program there is, so that "C:\Program Files\...\WINWORD.EXE /Automation"
// runs WINWORD.EXE.
std::wstring programOf(const std::wstring& command)
{
    if (command.empty())
        return {};
    if (command.front() == L'"') {
        const size_t end = command.find(L'"', 1);
        return runnable(command.substr(1, end == std::wstring::npos ? end : end - 1));
    }
    for (size_t space = command.find(L' ');; space = command.find(L' ', space + 1)) {
        if (const std::wstring found = runnable(command.substr(0, space)); !found.empty())
            return found;
        if (space == std::wstring::npos)
            return {};
    }
}

} // namespace

std::wstring LocalServerImage(const std::wstring& progId)
{
    // A 64-bit Word is registered in the 64-bit view, a 32-bit one in the 32-bit view; the
    // class name itself may be in either.
    const REGSAM views[] = {KEY_WOW64_64KEY, KEY_WOW64_32KEY};
    std::wstring clsid;
    for (const REGSAM view : views) {
        if (clsid.empty())
            clsid = defaultValue(progId + L"\\CLSID", view);
    }
    if (clsid.empty())
        return {};
    for (const REGSAM view : views) {
        std::wstring program =
            programOf(defaultValue(L"CLSID\\" + clsid + L"\\LocalServer32", view));
        if (program.empty())
            continue;
        // Word may register a short path (C:\PROGRA~1\...); the process list has the long
        // name.
        wchar_t longPath[MAX_PATH];
        const DWORD length = GetLongPathNameW(program.c_str(), longPath, MAX_PATH);
        if (length && length < MAX_PATH)
            program = longPath;
        return program.substr(program.find_last_of(L"\\/") + 1);
    }
    return {};
}

std::set<DWORD> ProcessesRunning(const std::wstring& image)
{
    std::set<DWORD> found;
    if (image.empty())
        return found;
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return found;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry)) {
        if (_wcsicmp(entry.szExeFile, image.c_str()) == 0)
            found.insert(entry.th32ProcessID);
    }
    CloseHandle(snapshot);
    return found;
}

std::optional<DWORD> ProcessShowing(const std::wstring& text)
{
    struct Search
    {
        const std::wstring* text;
        std::set<DWORD> found;
    } search{&text, {}};
    EnumWindows(
        [](HWND window, LPARAM data) -> BOOL {
            auto& into = *reinterpret_cast<Search*>(data);
            // Another process's title is read as stored: a hung process does not hold this up.
            wchar_t title[512];
            const int length = GetWindowTextW(window, title, 512);
            if (length > 0 &&
                std::wstring(title, size_t(length)).find(*into.text) != std::wstring::npos) {
                DWORD process = 0;
                GetWindowThreadProcessId(window, &process);
                into.found.insert(process);
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    if (search.found.size() != 1)
        return std::nullopt;
    return *search.found.begin();
}

bool ShowsWindow(DWORD process, const wchar_t* windowClass)
{
    struct Search
    {
        DWORD process;
        const wchar_t* windowClass;
        bool found;
    } search{process, windowClass, false};
    EnumWindows(
        [](HWND window, LPARAM data) -> BOOL {
            auto& into = *reinterpret_cast<Search*>(data);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            wchar_t name[64];
            if (owner == into.process && IsWindowVisible(window) &&
                GetClassNameW(window, name, 64) && _wcsicmp(name, into.windowClass) == 0)
                into.found = true;
            return !into.found;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

ServerProcess::ServerProcess(DWORD id)
    : m_handle(OpenProcess(PROCESS_TERMINATE | PROCESS_SET_QUOTA | SYNCHRONIZE |
                               PROCESS_QUERY_LIMITED_INFORMATION,
                           FALSE, id)),
      m_id(m_handle ? id : 0)
{}

ServerProcess::ServerProcess(ServerProcess&& other) noexcept
    : m_handle(std::exchange(other.m_handle, nullptr)), m_job(std::exchange(other.m_job, nullptr)),
      m_id(std::exchange(other.m_id, 0))
{}

ServerProcess& ServerProcess::operator=(ServerProcess&& other) noexcept
{
    std::swap(m_handle, other.m_handle);
    std::swap(m_job, other.m_job);
    std::swap(m_id, other.m_id);
    return *this;
}

ServerProcess::~ServerProcess()
{
    // A job still set to end its process ends it here: a server of ours goes with its hold.
    if (m_job)
        CloseHandle(m_job);
    if (m_handle)
        CloseHandle(m_handle);
}

bool ServerProcess::running() const noexcept
{
    return m_handle && WaitForSingleObject(m_handle, 0) == WAIT_TIMEOUT;
}

bool ServerProcess::waitForEnd(DWORD milliseconds) const noexcept
{
    return !m_handle || WaitForSingleObject(m_handle, milliseconds) != WAIT_TIMEOUT;
}

bool ServerProcess::terminate() const noexcept
{
    if (!running())
        return true;
    TerminateProcess(m_handle, 1);
    return WaitForSingleObject(m_handle, 5000) == WAIT_OBJECT_0;
}

void ServerProcess::tieToProgram() noexcept
{
    if (!m_handle || m_job)
        return;
    // One job for each: its limit can be lifted for this process alone.
    m_job = CreateJobObjectW(nullptr, nullptr);
    if (!m_job)
        return;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    // Where the system refuses (a server in a job that allows no other), it still ends with
    // its Quit or by our hand; only a program that is killed would leave it.
    if (!SetInformationJobObject(m_job, JobObjectExtendedLimitInformation, &limits,
                                 sizeof limits) ||
        !AssignProcessToJobObject(m_job, m_handle)) {
        CloseHandle(m_job);
        m_job = nullptr;
    }
}

void ServerProcess::untie() noexcept
{
    if (!m_job)
        return;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    if (SetInformationJobObject(m_job, JobObjectExtendedLimitInformation, &limits, sizeof limits))
        CloseHandle(std::exchange(m_job, nullptr));
}

} // namespace docuflume::com
