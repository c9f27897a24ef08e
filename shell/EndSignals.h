#pragma once

#include <functional>

class QObject;

namespace docuflume {

// Has the signals that end a program from outside (a session's logout, Ctrl+C, a closed
// terminal) call `end` from the event loop of `context`'s thread, as the user's own way out
// would, instead of ending the program on the spot; a second such signal ends it at once.
// Where the platform sends no such signals, nothing is done.
void EndOnSignals(QObject* context, std::function<void()> end);

} // namespace docuflume
