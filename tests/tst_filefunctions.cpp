// The file functions on real temporary folders: attributes, the open-as-file test, folder
// listings and the desktop folder.

#include "doclist/FolderWalk.h"
#include "shell/Failure.h"
#include "shell/FileSystem.h"
#include "shell/PathHelpers.h"
#include "support/RecordingPrompts.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

using namespace docuflume;
using docuflume::test::touchFile;

#ifndef Q_OS_WIN
namespace {

// Permission tests mean nothing to root, which opens every file; they then run in a child
// process that has dropped to an unprivileged user. Returns the check's answer.
bool askAsUnprivileged(const std::function<bool()>& check)
{
    if (::geteuid() != 0)
        return check();
    const pid_t child = ::fork();
    if (child == 0) {
        const uid_t nobody = 65534;
        if (::setgid(nobody) != 0 || ::setuid(nobody) != 0)
            ::_exit(2);
        ::_exit(check() ? 1 : 0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) == 2)
        qFatal("the unprivileged check did not run");
    return WEXITSTATUS(status) == 1;
}

} // namespace
#endif

class TestFileFunctions : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_dir.reset(new QTemporaryDir);
        QVERIFY(m_dir->isValid());
        // Readable by the unprivileged helper, so that only the file's own mode decides.
        QFile::setPermissions(m_dir->path(), QFile::ReadOwner | QFile::WriteOwner |
                                                 QFile::ExeOwner | QFile::ReadOther |
                                                 QFile::ExeOther | QFile::ReadGroup |
                                                 QFile::ExeGroup);
    }

    void attributes()
    {
        const QString plain = touchFile(path("plain.doc"));
        const QString hidden = test::hide(touchFile(path(".hidden.doc")));
        const QString readOnly = touchFile(path("locked.doc"));
        QFile::setPermissions(readOnly, QFile::ReadOwner);
        QVERIFY(QDir().mkdir(path("folder")));
        const test::Link folderLink(path("folder"), path("folder-link"));
        QVERIFY(folderLink);
        const test::Link fileLink(plain, path("file-link"));
        QVERIFY(fileLink);

        QCOMPARE(fs::GetAttr(plain), int(fs::Archive));
        QCOMPARE(fs::GetAttr(hidden), fs::Hidden | fs::Archive);
        QCOMPARE(fs::GetAttr(readOnly), fs::ReadOnly | fs::Archive);
        QCOMPARE(fs::GetAttr(path("folder")), int(fs::Directory));
        QCOMPARE(fs::GetAttr(path("folder") + u'/'), int(fs::Directory));
        QCOMPARE(fs::GetAttr(path("folder-link")), fs::Directory | fs::ReparsePoint);
        // A trailing separator must not make the link look like a plain folder.
        QCOMPARE(fs::GetAttr(path("folder-link") + u'/'), fs::Directory | fs::ReparsePoint);
#ifdef Q_OS_WIN // (where Wine shows a link to a file as the file it leads to)
        QCOMPARE(fs::GetAttr(path("file-link")) & ~fs::ReparsePoint, int(fs::Archive));
#else
        QCOMPARE(fs::GetAttr(path("file-link")), fs::Archive | fs::ReparsePoint);
#endif
        // (Windows marks its drives' roots hidden and system as well.)
        QCOMPARE(fs::GetAttr(QDir::rootPath()) & ~(fs::Hidden | fs::System), int(fs::Directory));

        // The walk takes a folder's attributes from its parent's listing: they must be
        // what GetAttr says.
        QVERIFY(QDir().mkdir(path(".hidden-folder")));
        test::hide(path(".hidden-folder"));
        QVERIFY(QDir().mkdir(path("locked-folder")));
        QFile::setPermissions(path("locked-folder"), QFile::ReadOwner | QFile::ExeOwner);
        const test::Link hiddenLink(path("folder"), path(".hidden-link"));
        QVERIFY(hiddenLink);
        test::hide(path(".hidden-link"));
        const QList<fs::Subfolder> listed = fs::listSubfolders(m_dir->path());
        QCOMPARE(listed.size(), 5);
        for (const fs::Subfolder& sub : listed)
            QCOMPARE(sub.attributes, fs::GetAttr(path(sub.name)));
        QFile::setPermissions(path("locked-folder"),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QFile::setPermissions(readOnly, QFile::ReadOwner | QFile::WriteOwner); // (to be removed)
    }

    void attributesOfWhatIsNotThere()
    {
        try {
            fs::GetAttr(path("missing.doc"));
            QFAIL("a missing file has no attributes");
        } catch (const Failure& failure) {
            QCOMPARE(failure.number(), int(Failure::FileNotFound));
        }
        try {
            fs::GetAttr(path("missing/inner.doc"));
            QFAIL("a missing folder has no attributes");
        } catch (const Failure& failure) {
#ifdef Q_OS_WIN // (which Windows tells from a missing file)
            QCOMPARE(failure.number(), int(Failure::PathNotFound));
#else
            QCOMPARE(failure.number(), int(Failure::FileNotFound));
#endif
        }
        // An embedded NUL would otherwise cut the path short at the folder.
        QVERIFY_THROWS_EXCEPTION(Failure,
                                 fs::GetAttr(m_dir->path() + QChar(0) + QStringLiteral("x")));
    }

    void isFolder()
    {
        const QString file = touchFile(path("a.doc"));
        QVERIFY(QDir().mkdir(path("sub")));
        QVERIFY(IsFolder(path("sub")));
        QVERIFY(IsFolder(path("sub") + u'/'));
        QVERIFY(IsFolder(QDir::rootPath()));
        QVERIFY(!IsFolder(file));
        QVERIFY(!IsFolder(QString()));
        QVERIFY(!IsFolder(path("missing")));
        QVERIFY(!IsFolder(path("a.doc/inner")));
    }

    void pathExists()
    {
        const QString file = touchFile(path("a.doc"));
        const test::Link dangling(path("gone.doc"), path("dangling.doc"));
        QVERIFY(dangling);
        QVERIFY(PathExists(file));
        QVERIFY(!PathExists(path("missing.doc")));
        QVERIFY(!PathExists(path("dangling.doc")));
        QVERIFY(!PathExists(QString()));
    }

    void isExistingFile()
    {
        const QString file = touchFile(path("a.doc"));
        const QString hidden = test::hide(touchFile(path(".hidden.doc")));
        QVERIFY(QDir().mkdir(path("sub")));
        QVERIFY(IsExistingFile(file));
        QVERIFY(IsExistingFile(hidden));
        QVERIFY(!IsExistingFile(path("sub")));
        QVERIFY(!IsExistingFile(QDir::rootPath()));
        QVERIFY(!IsExistingFile(path("missing.doc")));
        QVERIFY(!IsExistingFile(QString()));
        // A device opens as a file does, but holds no document.
#ifdef Q_OS_WIN
        QVERIFY(!IsExistingFile(QStringLiteral("NUL")));
        QVERIFY(!IsExistingFile(QStringLiteral("CON")));
#else
        QVERIFY(!IsExistingFile(QStringLiteral("/dev/null")));
#endif
    }

#ifndef Q_OS_WIN // who may open a file is decided by modes here, by access lists on Windows

    void unreadableFileCannotBeOpened()
    {
        const QString locked = touchFile(path("locked.doc"));
        const QString open = touchFile(path("open.doc"));
        QFile::setPermissions(locked, {});
        QFile::setPermissions(open, QFile::ReadOwner | QFile::ReadOther | QFile::ReadGroup);
        QVERIFY(!askAsUnprivileged([&] { return IsExistingFile(locked); }));
        QVERIFY(askAsUnprivileged([&] { return IsExistingFile(open); }));
        QVERIFY(askAsUnprivileged([&] {
            return ListFilesByPattern(m_dir->path(), QStringLiteral("*.doc")) ==
                   QStringList{QStringLiteral("open.doc")};
        }));
    }

    // (Windows keeps its pipes out of the folders.)
    void fifoNeverBlocks()
    {
        // A reader opening a FIFO with no writer would wait for ever.
        const QString fifo = path("pipe.doc");
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0644), 0);
        touchFile(path("real.doc"));
        QVERIFY(!IsExistingFile(fifo));
        QCOMPARE(ListFilesByPattern(m_dir->path(), QStringLiteral("*.doc")),
                 QStringList{QStringLiteral("real.doc")});
    }

#endif

    void listsEveryMatchingFile()
    {
        QStringList expected;
        for (int i = 0; i < 130; ++i) {
            const QString name = QStringLiteral("doc%1.doc").arg(i, 3, 10, QLatin1Char('0'));
            touchFile(path(name));
            expected << name;
        }
        touchFile(path("other.txt"));
        QStringList names = ListFilesByPattern(m_dir->path(), QStringLiteral("*.doc"));
        QCOMPARE(names.size(), 130);
        names.sort();
        QCOMPARE(names, expected);
        // With or without the trailing separator.
        QCOMPARE(ListFilesByPattern(m_dir->path() + u'/', QStringLiteral("*.DOC")).size(), 130);
    }

    void listingTakesHiddenFilesButNoFolders()
    {
        touchFile(path("a.doc"));
        test::hide(touchFile(path(".hidden")));
        touchFile(path("README"));
        QVERIFY(QDir().mkdir(path("sub.doc")));
        const test::Link toFolder(path("sub.doc"), path("link-to-folder.doc"));
        QVERIFY(toFolder);
        const test::Link toFile(path("a.doc"), path("link-to-file.doc"));
        QVERIFY(toFile);
        const test::Link nowhere(path("nowhere"), path("dangling.doc"));
        QVERIFY(nowhere);

        QStringList names = ListFilesByPattern(m_dir->path(), QStringLiteral("*.*"));
        names.sort();
        QCOMPARE(names, (QStringList{QStringLiteral(".hidden"), QStringLiteral("README"),
                                     QStringLiteral("a.doc"), QStringLiteral("link-to-file.doc")}));
    }

    void listingOfNothing()
    {
        touchFile(path("a.txt"));
        QVERIFY(ListFilesByPattern(m_dir->path(), QStringLiteral("*.doc")).isEmpty());
        QVERIFY(ListFilesByPattern(path("missing"), QStringLiteral("*.*")).isEmpty());
        QVERIFY(ListFilesByPattern(path("a.txt"), QStringLiteral("*.*")).isEmpty());
    }

#ifdef Q_OS_WIN
    void caseOfNamesFromTheFolder()
    {
        QVERIFY(fs::namesIgnoreCase(m_dir->path()));
        QVERIFY(fs::namesIgnoreCase(path("missing"))); // as Windows' folders are by default
    }
#else // names are bytes here, case-sensitive but where the file system says otherwise
    void listingSkipsNamesThatAreNotUtf8()
    {
        // Such a name cannot be written back as the same path, so it is left out.
        const QByteArray raw = QFile::encodeName(m_dir->path()) + "/bad\xff.doc";
        const int fd = ::open(raw.constData(), O_CREAT | O_WRONLY, 0644);
        QVERIFY(fd >= 0);
        ::close(fd);
        touchFile(path("good.doc"));
        QCOMPARE(ListFilesByPattern(m_dir->path(), QStringLiteral("*.doc")),
                 QStringList{QStringLiteral("good.doc")});
        ::unlink(raw.constData()); // a name QTemporaryDir could not remove either
    }

    // Read from the folder's own entries, or from a probe of ours that is gone at once. (A
    // hard link under the other case stands in for a file system that ignores case.)
    void caseOfNamesFromTheFolder()
    {
        QVERIFY(!fs::namesIgnoreCase(m_dir->path()));
        QVERIFY(
            QDir(m_dir->path()).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
        QVERIFY(!fs::namesIgnoreCase(path("missing")));
        touchFile(path("a.txt"));
        touchFile(path("A.TXT"));
        QVERIFY(!fs::namesIgnoreCase(m_dir->path()));
        QVERIFY(QFile::remove(path("A.TXT")));
        QCOMPARE(::link(QFile::encodeName(path("a.txt")).constData(),
                        QFile::encodeName(path("A.TXT")).constData()),
                 0);
        QVERIFY(fs::namesIgnoreCase(m_dir->path() + u'/'));
    }

    void walkPassesOverUnreadableFolders()
    {
        for (const char* folder : {"A/B", "A/C"})
            QVERIFY(QDir().mkpath(path(folder)));
        touchFile(path("A/B/b.doc"));
        QFile::setPermissions(path("A"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                             QFile::ReadOther | QFile::ExeOther);
        QFile::setPermissions(path("A/C"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                               QFile::ReadOther | QFile::ExeOther);
        QFile::setPermissions(path("A/B"), QFile::WriteOwner);
        const QString top = path("A") + u'/';
        // The folder that cannot be listed goes, silently; the rest of the tree stays.
        QVERIFY(askAsUnprivileged([&] {
            test::RecordingPrompts prompts;
            QStringList folders = {top};
            GetSubDirectories2016(prompts, nullptr, folders, true);
            return folders == QStringList{top, top + QStringLiteral("C/")} &&
                   prompts.messages.isEmpty();
        }));
        QFile::setPermissions(path("A/B"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    // The desktop as the user's folders file names it (Windows' own is read in the start-up
    // test).
    void desktopFromTheUserDirs()
    {
        const QString home = path("home");
        QVERIFY(QDir().mkpath(home + QStringLiteral("/Schreibtisch")));
        QVERIFY(QDir().mkpath(home + QStringLiteral("/.config")));
        touchFile(home + QStringLiteral("/.config/user-dirs.dirs"),
                  "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n");
        EnvironmentGuard guard(home, home + QStringLiteral("/.config"));

        const QString desktop = GetDesktopPath();
        QCOMPARE(desktop, home + QStringLiteral("/Schreibtisch/"));
        QVERIFY(!desktop.endsWith(QStringLiteral("//")));

        const QString buffer = GetSpecialFolderBuffer(0);
        QCOMPARE(buffer.size(), 512);
        QCOMPARE(buffer.indexOf(QChar(0)), desktop.size() - 1);
        QCOMPARE(buffer.mid(desktop.size()).trimmed(), QString());
    }

    void desktopFallsBackToHome()
    {
        const QString home = path("bare-home");
        QVERIFY(QDir().mkpath(home));
        EnvironmentGuard guard(home, home + QStringLiteral("/.config"));
        QCOMPARE(GetDesktopPath(), home + u'/');
    }

    void desktopThatCannotBeResolved()
    {
        EnvironmentGuard guard(path("no-such-home"), path("no-such-home/.config"));
        QCOMPARE(GetSpecialFolderBuffer(0), QString());
        try {
            GetDesktopPath();
            QFAIL("an unresolved desktop must fail");
        } catch (const Failure& failure) {
            QCOMPARE(failure.number(), int(Failure::InvalidArgument));
            QCOMPARE(failure.description(), QStringLiteral("Invalid procedure call or argument"));
        }
    }

#endif

private:
#ifndef Q_OS_WIN
    // Points HOME and the XDG config folder elsewhere for one test.
    struct EnvironmentGuard
    {
        EnvironmentGuard(const QString& home, const QString& config)
            : oldHome(qgetenv("HOME")), oldConfig(qgetenv("XDG_CONFIG_HOME"))
        {
            qputenv("HOME", QFile::encodeName(home));
            qputenv("XDG_CONFIG_HOME", QFile::encodeName(config));
        }
        ~EnvironmentGuard()
        {
            qputenv("HOME", oldHome);
            if (oldConfig.isEmpty())
                qunsetenv("XDG_CONFIG_HOME");
            else
                qputenv("XDG_CONFIG_HOME", oldConfig);
        }
        QByteArray oldHome;
        QByteArray oldConfig;
    };
#endif

    QString path(const char* name) const
    {
        return m_dir->filePath(QString::fromUtf8(name));
    }
    QString path(const QString& name) const
    {
        return m_dir->filePath(name);
    }

    std::unique_ptr<QTemporaryDir> m_dir;
};

QTEST_GUILESS_MAIN(TestFileFunctions)
#include "tst_filefunctions.moc"
