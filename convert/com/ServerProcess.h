#pragma once

// The process behind a COM server of our own: found when it starts, tied to this program's
// life, and ended when it will not end by itself. Plain Win32, no Qt.

#include <windows.h>

#include <set>
#include <string>

namespace docuflume::com {

// The file name of the program a class's local server runs ("WINWORD.EXE"), from the
// registration of `progId`; empty when it has none.
std::wstring LocalServerImage(const std::wstring& progId);

// The processes running a program of that file name now.
std::set<DWORD> ProcessesRunning(const std::wstring& image);

// A server process of ours, held by its handle: its number cannot go to another process
// while it is held. Every one is put into one job of this program's that the system ends
// with the program, however the program ends.
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
    void terminate() const noexcept;

private:
    HANDLE m_handle = nullptr;
    DWORD m_id = 0;
};

} // namespace docuflume::com
