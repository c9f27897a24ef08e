#include "shell/EndSignals.h"

#include <windows.h>

#include <atomic>
#include <csignal>

namespace docuflume {
namespace {

std::function<void(int)>* g_interrupted = nullptr;
std::atomic<bool> g_noted{false};

// Called by Windows on a thread of its own.
BOOL WINAPI noteConsoleEvent(DWORD event)
{
    // A second one gets the usual effect: the program ends.
    if (g_noted.exchange(true))
        return FALSE;
    (*g_interrupted)(event == CTRL_C_EVENT ? SIGINT : SIGTERM);
    return TRUE;
}

} // namespace

// Windows ends a session with messages to the window, which Qt answers as a closed window.
void EndOnSignals(QObject*, std::function<void()>) {}

void InterruptOnSignals(std::function<void(int signal)> interrupted)
{
    if (g_interrupted)
        return;
    g_interrupted = new std::function<void(int)>(std::move(interrupted));
    ::SetConsoleCtrlHandler(noteConsoleEvent, TRUE);
}

} // namespace docuflume
