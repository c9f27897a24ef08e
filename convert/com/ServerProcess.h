#pragma once

// The process behind a COM server of our own: told apart from others, tied to this program's
// life, and ended when it will not end by itself. Plain Win32, no Qt.

#include <windows.h>

#include <optional>
#include <set>
#include <string>

namespace docuflume::com {

// The file name of the program a class's local server runs ("WINWORD.EXE"), from the
// registration of `progId` in either registry view (a 32-bit server is registered in the
// 32-bit one), its command line read as Windows runs it; empty when none can be found.
std::wstring LocalServerImage(const std::wstring& progId);

// The processes running a program of that file name now.
std::set<DWORD> ProcessesRunning(const std::wstring& image);

// The one process with a top-level window whose title holds `text`; nothing when none or
// several have one.
std::optional<DWORD> ProcessShowing(const std::wstring& text);

// Whether the process shows a top-level window of the class `windowClass`.
bool ShowsWindow(DWORD process, const wchar_t* windowClass);

// A server process of ours, held by its handle: its number cannot go to another process
// while it is held.
class ServerProcess
{
public:
    ServerProcess() noexcept = default;
    // Takes hold of the process `id`; an empty hold when it cannot be opened.
    explicit ServerProcess(DWORD id);
    ServerProcess(ServerProcess&& other) noexcept;
    ServerProcess& operator=(ServerProcess&& other) noexcept;
    ~ServerProcess();

    explicit operator bool() const noexcept { return m_handle != nullptr; }
    DWORD id() const noexcept { return m_id; }
    bool running() const noexcept;
    // Until it has ended, or `milliseconds` have gone by; true when it has ended.
    bool waitForEnd(DWORD milliseconds) const noexcept;
    // Ends it; true when it has ended.
    bool terminate() const noexcept;

    // Puts it into a job of its own that the system ends with this program, however the
    // program ends. A process cannot leave a job again, so this is done only once it is
    // known to be ours; untie() then lets it outlive the program after all (the user has
    // taken it over).
    void tieToProgram() noexcept;
    void untie() noexcept;

private:
    HANDLE m_handle = nullptr;
    HANDLE m_job = nullptr;
    DWORD m_id = 0;
};

} // namespace docuflume::com
