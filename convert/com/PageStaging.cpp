#include "convert/com/PageStaging.h"

#include "convert/com/ComDispatch.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cwchar>
#include <cwctype>
#include <optional>
#include <vector>

namespace docuflume::com {
namespace {

// A staging folder's name: this prefix, the run's name (16 hex digits: its process number
// and the second it started, which no other run shares), "-" and 6 hex digits drawn in the
// run. A killed run's folders are known by it.
constexpr wchar_t kPrefix[] = L".docuflume-w";
constexpr size_t kPrefixLength = sizeof kPrefix / sizeof kPrefix[0] - 1;
constexpr size_t kNameLength = kPrefixLength + 16 + 1 + 6;

std::wstring hex(unsigned long value, int digits)
{
    wchar_t text[16];
    swprintf(text, 16, L"%0*lx", digits, value);
    return text;
}

DWORD secondsOf(const FILETIME& time)
{
    ULARGE_INTEGER ticks;
    ticks.LowPart = time.dwLowDateTime;
    ticks.HighPart = time.dwHighDateTime;
    return DWORD(ticks.QuadPart / 10'000'000);
}

// The second a process started; nothing when that cannot be read.
std::optional<DWORD> startOf(HANDLE process)
{
    FILETIME created{}, ended{}, kernel{}, user{};
    if (!GetProcessTimes(process, &created, &ended, &kernel, &user))
        return std::nullopt;
    return secondsOf(created);
}

const std::wstring& runName()
{
    static const std::wstring name =
        hex(GetCurrentProcessId(), 8) + hex(startOf(GetCurrentProcess()).value_or(0), 8);
    return name;
}

// Whether the run that names itself by this process number and start has ended: its
// process is gone, or the number now belongs to a process started at another time. A
// process that cannot be looked at (another user's) is taken to run on.
bool runEnded(DWORD id, DWORD started)
{
    const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
    if (!process)
        return GetLastError() == ERROR_INVALID_PARAMETER;
    DWORD code = 0;
    const bool ended = (GetExitCodeProcess(process, &code) && code != STILL_ACTIVE) ||
                       startOf(process).value_or(started) != started;
    CloseHandle(process);
    return ended;
}

bool isHex(const std::wstring& text)
{
    for (wchar_t c : text) {
        if (!std::iswxdigit(c))
            return false;
    }
    return true;
}

// Removes a file or a folder with all it holds. A link is removed as a link: what it points
// at is never ours.
void removeTree(const std::wstring& path) noexcept
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return;
    if (attributes & FILE_ATTRIBUTE_READONLY)
        SetFileAttributesW(path.c_str(), attributes & ~DWORD(FILE_ATTRIBUTE_READONLY));
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        DeleteFileW(path.c_str());
        return;
    }
    if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        WIN32_FIND_DATAW found;
        const HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                const std::wstring name = found.cFileName;
                if (name != L"." && name != L"..")
                    removeTree(path + L"\\" + name);
            } while (FindNextFileW(search, &found));
            FindClose(search);
        }
    }
    RemoveDirectoryW(path.c_str());
}

// The names in a folder.
std::vector<std::wstring> entriesOf(const std::wstring& folder)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..")
            names.push_back(name);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
}

// Removes the staging folders of runs that have ended from `folder`: a run that is killed
// (or whose Word could not be ended) leaves them.
void removeEndedRuns(const std::wstring& folder)
{
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((folder + L"\\" + kPrefix + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        const std::wstring name = found.cFileName;
        if (name.size() != kNameLength || name[kNameLength - 7] != L'-' ||
            !(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            continue;
        const std::wstring run = name.substr(kPrefixLength, 16);
        if (!isHex(run) || !isHex(name.substr(kNameLength - 6)) || run == runName())
            continue;
        const DWORD id = DWORD(std::wcstoul(run.substr(0, 8).c_str(), nullptr, 16));
        const DWORD started = DWORD(std::wcstoul(run.substr(8).c_str(), nullptr, 16));
        if (runEnded(id, started))
            removeTree(folder + L"\\" + name);
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

ComError cannotWrite(const std::wstring& name, const std::wstring& folder)
{
    return ComError(HRESULT_FROM_WIN32(GetLastError()),
                    name + L" could not be written into " + folder + L".");
}

} // namespace

PageStaging::PageStaging(const std::wstring& target)
{
    wchar_t full[2 * MAX_PATH];
    const DWORD length = GetFullPathNameW(target.c_str(), 2 * MAX_PATH, full, nullptr);
    const std::wstring path = length && length < 2 * MAX_PATH ? std::wstring(full) : target;
    const size_t slash = path.find_last_of(L"\\/");
    m_folder = slash == std::wstring::npos ? std::wstring(L".") : path.substr(0, slash);
    m_name = path.substr(slash + 1);
    const DWORD attributes = GetFileAttributesW((m_folder + L"\\").c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        throw ComError(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND),
                       L"The folder " + m_folder + L" does not exist.");
    removeEndedRuns(m_folder);
    static std::atomic<unsigned long> drawn{0};
    for (int attempt = 0; attempt < 16; ++attempt) {
        const std::wstring staging =
            m_folder + L"\\" + kPrefix + runName() + L"-" + hex(++drawn & 0xFFFFFF, 6);
        if (CreateDirectoryW(staging.c_str(), nullptr)) {
            SetFileAttributesW(staging.c_str(), FILE_ATTRIBUTE_HIDDEN);
            m_staging = staging;
            return;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            break;
    }
    throw ComError(HRESULT_FROM_WIN32(GetLastError()),
                   L"Cannot write into the folder " + m_folder + L".");
}

PageStaging::~PageStaging()
{
    discard();
}

std::wstring PageStaging::stagedPage() const
{
    return m_staging + L"\\" + m_name;
}

void PageStaging::commit()
{
    if (GetFileAttributesW(stagedPage().c_str()) == INVALID_FILE_ATTRIBUTES) {
        discard();
        throw ComError(E_FAIL, L"Word did not write the page " + m_name + L".");
    }
    // The page last, so that it never points at pictures that are not there yet.
    std::vector<std::wstring> names = entriesOf(m_staging);
    std::erase(names, m_name);
    names.push_back(m_name);
    // What stood in the way is kept aside in the staging folder until the end.
    const std::wstring aside = m_staging + L"\\.replaced";
    struct Moved
    {
        std::wstring name;
        bool replaced;
    };
    std::vector<Moved> moved;
    const auto undo = [&] {
        for (auto each = moved.rbegin(); each != moved.rend(); ++each) {
            const std::wstring target = m_folder + L"\\" + each->name;
            if (!MoveFileExW(target.c_str(), (m_staging + L"\\" + each->name).c_str(), 0))
                removeTree(target);
            if (each->replaced)
                MoveFileExW((aside + L"\\" + each->name).c_str(), target.c_str(), 0);
        }
        discard();
    };
    for (const std::wstring& name : names) {
        const std::wstring target = m_folder + L"\\" + name;
        bool replaced = false;
        if (GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES) {
            CreateDirectoryW(aside.c_str(), nullptr);
            if (!MoveFileExW(target.c_str(), (aside + L"\\" + name).c_str(), 0)) {
                const ComError error = cannotWrite(name, m_folder);
                undo();
                throw error;
            }
            replaced = true;
        }
        if (!MoveFileExW((m_staging + L"\\" + name).c_str(), target.c_str(), 0)) {
            const ComError error = cannotWrite(name, m_folder);
            if (replaced)
                MoveFileExW((aside + L"\\" + name).c_str(), target.c_str(), 0);
            undo();
            throw error;
        }
        moved.push_back({name, replaced});
    }
    discard();
}

void PageStaging::discard() noexcept
{
    if (m_staging.empty())
        return;
    // Where Word still holds a file (one that could not be ended), a later run removes it.
    removeTree(m_staging);
    m_staging.clear();
}

} // namespace docuflume::com
