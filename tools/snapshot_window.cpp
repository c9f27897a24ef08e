// Renders the main window, as it looks after start-up, to a PNG file; needs no display.
//
//     docuflume-snapshot OUTPUT.png [--rows]
//
// With --rows the list holds a few documents, to show how rows look.

#include "app/SettingsStore.h"
#include "doclist/DocumentList.h"
#include "shell/Chance.h"
#include "tools/QuietServices.h"
#include "ui/Form1.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTextStream>

#include <cstdio>

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QApplication::setStyle(QStringLiteral("Fusion"));

    const QStringList arguments = QApplication::arguments();
    if (arguments.size() < 2) {
        std::fputs("usage: docuflume-snapshot OUTPUT.png [--rows]\n", stderr);
        return 2;
    }

    // A throwaway store, so that taking a picture changes none of the user's settings.
    QTemporaryDir scratch;
    const auto settings =
        docuflume::makeIniSettingsStore(scratch.filePath(QStringLiteral("settings.ini")));
    docuflume::tools::QuietPrompts prompts;
    docuflume::tools::IdleAutomation automation;
    const auto clock = docuflume::makeSystemClock();
    const auto random = docuflume::makeStandardRandomSource();
    docuflume::Platform platform(prompts, *settings);
    platform.automation = &automation;
    platform.clock = clock.get();
    platform.random = random.get();

    docuflume::Form1 form(platform);
    form.Form_Load();
    if (arguments.contains(QStringLiteral("--rows"))) {
        for (const char* path :
             {"/home/ana/Documents/report.docx", "/home/ana/Documents/minutes.2021.final.doc",
              "/home/ana/Documents/Проект/план.rtf"})
            form.documents().AddDocument(QString::fromUtf8(path));
    }
    form.show();
    QApplication::processEvents();

    if (!form.grab().save(arguments.at(1))) {
        QTextStream(stderr) << "cannot write " << arguments.at(1) << '\n';
        return 1;
    }
    QTextStream(stdout) << "wrote " << arguments.at(1) << '\n';
    return 0;
}
