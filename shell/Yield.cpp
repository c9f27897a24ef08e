#include "shell/Yield.h"

#include <QCoreApplication>
#include <QElapsedTimer>

namespace docuflume {

void YieldToWindow()
{
    QCoreApplication::processEvents();
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
