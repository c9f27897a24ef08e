#pragma once

#include <QStringList>

#include <functional>

namespace docuflume {

class Form1;
struct Platform;

// The program from its window on: loads the main window, which ends here when no word
// processor can be started; shows it, puts the files and folders it was started with into
// the list as a drop would (once the window runs), and runs until it is closed. `started`
// is called after that, for the tests.
int RunProgram(const Platform& services, const QStringList& paths,
               const std::function<void(Form1&)>& started = {});

} // namespace docuflume
