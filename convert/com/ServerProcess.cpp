#include "convert/com/ServerProcess.h"

#include <tlhelp32.h>

#include <utility>

namespace docuflume::com {
namespace {

std::wstring defaultValue(HKEY root, const std::wstring& key)
{
    wchar_t value[2048];
    DWORD size = sizeof value;
    // REG_SZ, or REG_EXPAND_SZ expanded.
    if (RegGetValueW(root, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, value, &size) !=
        ERROR_SUCCESS)
        return {};
    return value;
}

// The job every server of ours goes into: closed, by the system when the program ends, it
// ends them all.
HANDLE ourJob()
{
    static const HANDLE job = [] {
        const HANDLE made = CreateJobObjectW(nullptr, nullptr);
        if (made) {
            JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
            limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
            SetInformationJobObject(made, JobObjectExtendedLimitInformation, &limits,
                                    sizeof limits);
        }
        return made;
    }();
    return job;
}

} // namespace

std::wstring LocalServerImage(const std::wstring& progId)
{
    const std::wstring clsid = defaultValue(HKEY_CLASSES_ROOT, progId + L"\\CLSID");
    if (clsid.empty())
        return {};
    const std::wstring command =
        defaultValue(HKEY_CLASSES_ROOT, L"CLSID\\" + clsid + L"\\LocalServer32");
    // The program is the first word of the command, or the quoted part.
    std::wstring program;
    if (!command.empty() && command.front() == L'"')
        program = command.substr(1, command.find(L'"', 1) - 1);
    else
        program = command.substr(0, command.find(L' '));
    // Word registers a short path (C:\PROGRA~1\...); the process list has the long name.
    wchar_t longPath[MAX_PATH];
    const DWORD length = GetLongPathNameW(program.c_str(), longPath, MAX_PATH);
    if (length && length < MAX_PATH)
        program = longPath;
    return program.substr(program.find_last_of(L"\\/") + 1);
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

ServerProcess::ServerProcess(DWORD id)
    : m_handle(OpenProcess(PROCESS_TERMINATE | PROCESS_SET_QUOTA | SYNCHRONIZE |
                               PROCESS_QUERY_LIMITED_INFORMATION,
                           FALSE, id)),
      m_id(m_handle ? id : 0)
{
    // Where the system refuses (a server in a job that allows no other), it still ends with
    // its Quit or by our hand; only a program that is killed would leave it.
    if (m_handle && ourJob())
        AssignProcessToJobObject(ourJob(), m_handle);
}

ServerProcess::ServerProcess(ServerProcess&& other) noexcept
    : m_handle(std::exchange(other.m_handle, nullptr)), m_id(std::exchange(other.m_id, 0))
{}

ServerProcess& ServerProcess::operator=(ServerProcess&& other) noexcept
{
    std::swap(m_handle, other.m_handle);
    std::swap(m_id, other.m_id);
    return *this;
}

ServerProcess::~ServerProcess()
{
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

void ServerProcess::terminate() const noexcept
{
    if (running()) {
        TerminateProcess(m_handle, 1);
        WaitForSingleObject(m_handle, 5000);
    }
}

} // namespace docuflume::com
