#include "shell/Yield.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#ifdef Q_OS_WIN
#include <QAbstractNativeEventFilter>

#include <windows.h>
#endif

namespace docuflume {

#ifdef Q_OS_WIN
namespace {

// Drops the clicks and keys meant for the program's windows. The title bar, its close
// button and Alt+F4 pass: Qt counts a close among the user's input, and would hold it back
// with the rest.
class DropInput final : public QAbstractNativeEventFilter
{
public:
    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override
    {
        if (type != "windows_generic_MSG")
            return false;
        const MSG& event = *static_cast<const MSG*>(message);
        if (event.message == WM_SYSKEYDOWN || event.message == WM_SYSKEYUP)
            return event.wParam != VK_F4;
        return (event.message >= WM_KEYFIRST && event.message <= WM_KEYLAST) ||
               (event.message >= WM_MOUSEFIRST && event.message <= WM_MOUSELAST) ||
               event.message == WM_TOUCH ||
               (event.message >= 0x0241 && event.message <= 0x0253); // pointer input
    }
};

} // namespace
#endif

void YieldToWindow()
{
    QCoreApplication::processEvents();
}

void YieldWhileWaiting()
{
#ifdef Q_OS_WIN
    static DropInput dropInput;
    QCoreApplication::instance()->installNativeEventFilter(&dropInput);
    QCoreApplication::processEvents();
    QCoreApplication::instance()->removeNativeEventFilter(&dropInput);
#else
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
#endif
}

void YieldToWindowThrottled()
{
    static QElapsedTimer sinceLast;
    if (sinceLast.isValid() && sinceLast.elapsed() < 15)
        return;
    QCoreApplication::processEvents();
    sinceLast.start();
}

} // namespace docuflume
