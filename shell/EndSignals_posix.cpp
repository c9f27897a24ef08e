#include "shell/EndSignals.h"

#include <QObject>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

namespace docuflume {
namespace {

constexpr int kEndSignals[] = {SIGTERM, SIGINT, SIGHUP};
int wakeUp[2] = {-1, -1}; // the handler writes; the event loop, or the interrupt's thread, reads

// All a handler may safely do: the signals get their usual effect back, for a second one,
// and a byte goes into the pipe.
void noteEndSignal(int signal)
{
    const int saved = errno;
    struct sigaction usual
    {
    };
    usual.sa_handler = SIG_DFL;
    for (const int each : kEndSignals)
        ::sigaction(each, &usual, nullptr);
    const char byte = char(signal);
    [[maybe_unused]] const auto written = ::write(wakeUp[1], &byte, 1);
    errno = saved;
}

void catchEndSignals()
{
    struct sigaction action
    {
    };
    action.sa_handler = noteEndSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : kEndSignals)
        ::sigaction(signal, &action, nullptr);
}

} // namespace

void EndOnSignals(QObject* context, std::function<void()> end)
{
    if (wakeUp[0] >= 0 || ::pipe2(wakeUp, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    auto* notifier = new QSocketNotifier(wakeUp[0], QSocketNotifier::Read, context);
    QObject::connect(notifier, &QSocketNotifier::activated, context,
                     [notifier, end = std::move(end)] {
                         char bytes[16];
                         while (::read(wakeUp[0], bytes, sizeof bytes) > 0) {
                         }
                         notifier->setEnabled(false);
                         end();
                     });
    catchEndSignals();
}

void InterruptOnSignals(std::function<void(int signal)> interrupted)
{
    if (wakeUp[0] >= 0 || ::pipe2(wakeUp, O_CLOEXEC) != 0)
        return;
    std::thread([interrupted = std::move(interrupted)] {
        char signal = 0;
        while (::read(wakeUp[0], &signal, 1) < 0 && errno == EINTR) {
        }
        interrupted(signal);
    }).detach();
    catchEndSignals();
}

} // namespace docuflume
