#include "app/Program.h"

#include "shell/EndSignals.h"
#include "shell/Platform.h"
#include "ui/Form1.h"

#include <QApplication>
#include <QTimer>

namespace docuflume {

int RunProgram(const Platform& services, const QStringList& paths,
               const std::function<void(Form1&)>& started)
{
    Form1 form(services);
    form.Form_Load();
    if (form.endRequested())
        return 0; // no word processor: said so, and nothing more to do
    form.show();
    // Ended from outside (a logout, Ctrl+C), the program ends as when its window is closed.
    EndOnSignals(&form, [&form] { form.close(); });
    // A dropped folder's walk yields to the window, so it runs once the window does.
    QTimer::singleShot(0, &form, [&] {
        if (!paths.isEmpty())
            form.AddPathsAsDropped(paths);
        if (started)
            started(form);
    });
    return QApplication::exec();
}

} // namespace docuflume
