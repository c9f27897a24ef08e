#include "app/CommandLine.h"
#include "app/ConvertCommand.h"
#include "app/DesktopPlatform.h"
#include "app/Program.h"
#include "convert/WordAutomation.h"
#include "shell/EndSignals.h"
#ifdef Q_OS_WIN
#include "convert/com/WordComAutomation.h"

#include <io.h>
#include <windows.h>
#else
#include "convert/libreoffice/LibreOfficeAutomation.h"
#include "convert/pages/HtmlPage.h"

#include <unistd.h>
#endif

#include <QApplication>
#include <QFile>

#include <atomic>
#include <cstdio>
#include <mutex>

namespace {

// The conversion without a window: no display is needed, and Ctrl+C or SIGTERM stops the
// office's instances at once so that the run ends in its ordinary way.
int convertWithoutWindow(int argc, char* argv[], const docuflume::ConvertRequest& request)
{
    using namespace docuflume;
    QCoreApplication application(argc, argv);
#ifdef Q_OS_WIN
    // (A program with a window has no console of its own: it writes to its caller's.)
    if (::AttachConsole(ATTACH_PARENT_PROCESS)) [[maybe_unused]]
        FILE* console = std::freopen("CONOUT$", "w", stderr);
    const std::unique_ptr<WordAutomation> word = makeWordComAutomation();
    const bool terminal = ::_isatty(::_fileno(stderr));
    const PageWordCounter pageWords; // (not read on Windows)
#else
    const std::unique_ptr<WordAutomation> word = makeLibreOfficeAutomation();
    const bool terminal = ::isatty(STDERR_FILENO);
    const PageWordCounter pageWords = [](const QString& page) -> std::optional<qsizetype> {
        QFile file(page);
        if (!file.open(QIODevice::ReadOnly))
            return std::nullopt;
        return CountWords(ReadHtmlPage(file.readAll()).visibleText);
    };
#endif
    // The signal's thread reaches the engine only while the run has it.
    static std::atomic<int> stoppedBy{0};
    static std::mutex engineMutex;
    static WordAutomation* engine = word.get();
    InterruptOnSignals([](int signal) {
        stoppedBy = signal;
        const std::lock_guard lock(engineMutex);
        if (engine)
            engine->interrupt();
    });
    QFile progress;
    if (!progress.open(stderr, QIODevice::WriteOnly | QIODevice::Unbuffered))
        return 1;
    const int status = RunConversion(request, word.get(), pageWords, progress, terminal,
                                     [] { return stoppedBy.load(); });
    const std::lock_guard lock(engineMutex);
    engine = nullptr;
    return status;
}

} // namespace

int main(int argc, char* argv[])
{
    // Read before the window system is reached: the options answer without a display.
    QStringList arguments;
    for (int k = 0; k < argc; ++k)
        arguments << QString::fromLocal8Bit(argv[k]);
    const docuflume::CommandLine command = docuflume::ReadCommandLine(arguments);
    if (command.exitCode) {
        std::fputs(command.output.toLocal8Bit().constData(), stdout);
        std::fputs(command.error.toLocal8Bit().constData(), stderr);
        return *command.exitCode;
    }
    if (command.convert)
        return convertWithoutWindow(argc, argv, *command.convert);

    QApplication application(argc, argv);
    QApplication::setStyle(QStringLiteral("Fusion"));
    docuflume::DesktopPlatform platform;
    return docuflume::RunProgram(platform.services(), command.paths);
}
