#pragma once

#include <functional>

class QObject;

namespace docuflume {

// Has the signals that end a program from outside (a session's logout, Ctrl+C, a closed
// terminal) call `end` from the event loop of `context`'s thread, as the user's own way out
// would, instead of ending the program on the spot; a second such signal ends it at once.
// Where the platform sends no such signals, nothing is done.
void EndOnSignals(QObject* context, std::function<void()> end);

// For a run without a window, whose own thread may be in the middle of a long call: the same
// signals (Ctrl+C, a console closed on Windows) call `interrupted` with the signal's number
// (SIGINT 2, SIGTERM 15, SIGHUP 1) at once, on a thread of its own; a second one ends the
// program at once.
void InterruptOnSignals(std::function<void(int signal)> interrupted);

} // namespace docuflume
