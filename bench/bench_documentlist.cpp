// Fills the real window's document list with 100,000 rows, one AddDocument at a time, and
// scrolls through them page by page, repainting each page. Prints the time per row, the
// time per page and the memory the process holds.
//
//     QT_QPA_PLATFORM=offscreen bench_documentlist [ROWS]

#include "app/SettingsStore.h"
#include "doclist/DocumentList.h"
#include "shell/Chance.h"
#include "tools/QuietServices.h"
#include "ui/Form1.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QScrollBar>
#include <QTableView>
#include <QTemporaryDir>

#include <cstdio>

namespace {

// Resident and peak resident memory in MB, from the kernel's own account.
std::pair<double, double> memoryMb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    double rss = 0;
    double peak = 0;
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : status.readAll().split('\n')) {
            const QList<QByteArray> fields = line.simplified().split(' ');
            if (fields.size() >= 2 && fields[0] == "VmRSS:")
                rss = fields[1].toDouble() / 1024;
            if (fields.size() >= 2 && fields[0] == "VmHWM:")
                peak = fields[1].toDouble() / 1024;
        }
    }
    return {rss, peak};
}

QString pathFor(int i)
{
    return QStringLiteral("/home/user/Documents/Projects/%1/Reports/report-%2.docx")
        .arg(i / 20, 4, 10, QLatin1Char('0'))
        .arg(i, 6, 10, QLatin1Char('0'));
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const int rows = argc > 1 ? std::atoi(argv[1]) : 100000;

    QTemporaryDir scratch;
    const auto settings =
        docuflume::makeIniSettingsStore(scratch.filePath(QStringLiteral("s.ini")));
    docuflume::tools::QuietPrompts prompts;
    docuflume::tools::IdleAutomation automation;
    docuflume::Platform platform(prompts, *settings);
    platform.automation = &automation;

    auto run = [&](const char* label, int yieldEvery) {
        docuflume::Form1 form(platform);
        form.Form_Load();
        form.show();
        QApplication::processEvents();
        const auto before = memoryMb();

        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < rows; ++i) {
            form.documents().AddDocument(pathFor(i));
            if (yieldEvery > 0 && i % yieldEvery == 0)
                QApplication::processEvents();
        }
        QApplication::processEvents();
        const double addMicros = timer.nsecsElapsed() / 1000.0 / rows;

        auto* list = form.findChild<QTableView*>(QStringLiteral("ListView1"));
        QScrollBar* bar = list->verticalScrollBar();
        timer.restart();
        int pages = 0;
        for (int value = 0; value <= bar->maximum(); value += bar->pageStep()) {
            bar->setValue(value);
            list->viewport()->repaint();
            ++pages;
        }
        const double pageMicros = timer.nsecsElapsed() / 1000.0 / qMax(1, pages);
        const auto after = memoryMb();

        std::printf("%-34s %8d rows  %7.2f us/row  %5d pages  %7.1f us/page  "
                    "RSS %6.1f MB (+%5.1f MB for the rows, peak %6.1f MB)\n",
                    label, rows, addMicros, pages, pageMicros, after.first,
                    after.first - before.first, after.second);
    };

    std::printf("Document list benchmark (target: under 20 us per row, under 100 MB resident)\n");
    run("appends, one repaint at the end", 0);
    // A folder scan yields once per folder; every yield repaints the visible rows.
    run("appends, repaint every 20 rows", 20);
    return 0;
}
