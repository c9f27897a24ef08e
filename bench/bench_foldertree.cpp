// Scans a generated tree of 100,000 files in 5,000 folders into the real window's list
// with "Add All Word Files In Folder", and times `find` on the same tree for comparison
// (both with a warm cache). Also counts how often the list repainted during the scan.
//
//     QT_QPA_PLATFORM=offscreen bench_foldertree [FOLDERS] [FILES_PER_FOLDER] [TREE] [deep]
//
// The tree is wide (50 folders at the top, the rest one level below them), or with "deep"
// made of chains 20 folders deep. With TREE, the tree is made there once and kept, so that
// later runs (or a profiler) spend their time on the scan only; an empty TREE is a
// temporary one.

#include "app/SettingsStore.h"
#include "doclist/DocumentList.h"
#include "doclist/FolderWalk.h"
#include "shell/Chance.h"
#include "shell/PathHelpers.h"
#include "tools/QuietServices.h"
#include "ui/Form1.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTableView>
#include <QTemporaryDir>

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Answers the scan's two questions: the extension, then the folder.
class ScanPrompts final : public docuflume::Prompts
{
public:
    explicit ScanPrompts(QString folder) : m_folder(std::move(folder)) {}
    docuflume::MessageAnswer message(QWidget*, const docuflume::MessageRequest&) override
    {
        return docuflume::MessageAnswer::Ok;
    }
    QString input(QWidget*, const QString&, const QString&, const QString&) override
    {
        return QStringLiteral("doc");
    }
    QStringList openFiles(QWidget*, const docuflume::OpenFilesRequest&) override { return {}; }
    QString pickFolder(QWidget*, const QString&, const QString&) override { return m_folder; }
    bool openWithDesktop(const QUrl&) override { return false; }

private:
    QString m_folder;
};

class PaintCounter final : public QObject
{
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

double runFind(const QString& root)
{
    QProcess find;
    find.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    find.start(QStringLiteral("find"), {root, QStringLiteral("-type"), QStringLiteral("f"),
                                        QStringLiteral("-iname"), QStringLiteral("*.doc")});
    find.waitForFinished(-1);
    return timer.nsecsElapsed() / 1e9;
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const int folders = argc > 1 ? std::atoi(argv[1]) : 5000;
    const int perFolder = argc > 2 ? std::atoi(argv[2]) : 20;

    QTemporaryDir work;
    const QString root = argc > 3 && *argv[3] ? QString::fromLocal8Bit(argv[3])
                                              : work.filePath(QStringLiteral("tree"));
    const bool reuse = argc > 3 && *argv[3] && QDir(root).exists();
    const bool deep = argc > 4 && qstrcmp(argv[4], "deep") == 0;
    const int tops = deep ? std::max(1, folders / 20) : 50;
    QStringList made;
    for (int i = 0; i < folders && !reuse; ++i) {
        const QString parent = i < tops ? root : deep ? made[i - tops] : made[i % tops];
        const QString folder = parent + QStringLiteral("/f%1").arg(i, 4, 10, QLatin1Char('0'));
        QDir().mkpath(folder);
        made << folder;
        for (int f = 0; f < perFolder; ++f) {
            const QByteArray path = QFile::encodeName(
                folder + QStringLiteral("/report-%1.doc").arg(f, 3, 10, QLatin1Char('0')));
            ::close(::open(path.constData(), O_CREAT | O_WRONLY, 0644));
        }
    }
    const int files = folders * perFolder;

    runFind(root); // warm the cache
    double find = 1e9;
    for (int i = 0; i < 3; ++i)
        find = std::min(find, runFind(root));

    auto settings = docuflume::makeIniSettingsStore(work.filePath(QStringLiteral("s.ini")));
    ScanPrompts prompts(root);
    docuflume::tools::IdleAutomation automation;
    docuflume::Platform platform(prompts, *settings);
    platform.automation = &automation;
    docuflume::Form1 form(platform);
    form.Form_Load();
    form.show();
    QApplication::processEvents();
    PaintCounter counter;
    form.findChild<QTableView*>(QStringLiteral("ListView1"))
        ->viewport()
        ->installEventFilter(&counter);

    QElapsedTimer timer;
    timer.start();
    form.PushButton4_Click();
    const double scan = timer.nsecsElapsed() / 1e9;

    std::printf("tree: %d files in %d folders, %s (warm cache)\n", files, folders,
                deep ? "chains 20 deep" : "two levels");
    std::printf("find -type f -iname '*.doc'   %7.3f s\n", find);
    std::printf(
        "Add All Word Files In Folder  %7.3f s  (%d rows, %d list repaints during the scan)\n",
        scan, form.documents().DocumentCount(), counter.paints);
    std::printf("scan / find: %.2f (target at most 3.00)\n", scan / find);

    // Where the time goes: the walk alone, then the listings alone.
    timer.restart();
    QStringList walked = {root + u'/'};
    docuflume::GetSubDirectories2016(prompts, nullptr, walked, true);
    const double walk = timer.nsecsElapsed() / 1e9;
    timer.restart();
    qsizetype listed = 0;
    for (const QString& folder : std::as_const(walked))
        listed += docuflume::ListFilesByPattern(folder, QStringLiteral("*.doc")).size();
    const double listing = timer.nsecsElapsed() / 1e9;
    std::printf("  of which: walk %.3f s (%lld folders), listings %.3f s (%lld files)\n", walk,
                qlonglong(walked.size()), listing, qlonglong(listed));
    return form.documents().DocumentCount() == files ? 0 : 1;
}
