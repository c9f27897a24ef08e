// The folder-tree scan on real temporary trees, through the real window.

#include "app/Settings.h"
#include "app/SettingsStore.h"
#include "doclist/DocumentList.h"
#include "doclist/FolderListings.h"
#include "doclist/FolderWalk.h"
#include "shell/PathHelpers.h"
#include "support/TestFiles.h"
#include "support/WindowTest.h"

#include <QDir>
#include <QFile>
#include <QTest>

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

using namespace docuflume;

class TestFolderTree : public test::WindowTest
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        makeWindow();
        m_root = test::native(m_platform->folder.filePath(QStringLiteral("A")));
        for (const char* file : {"b.doc", "~$b.doc", "x.DOCX", "n.txt", "B/c.doc", "C/d.docm",
                                 "B/D/e.doc", "B/D/~WRL0001.tmp"})
            test::touchFile(at(file));
    }

    void cleanup() { dropWindow(); }

    void levelOrder()
    {
        QStringList folders = {at("")};
        GetSubDirectories2016(m_platform->prompts, nullptr, folders, true);
        QCOMPARE(folders.size(), 4);
        QCOMPARE(folders[0], at(""));
        QCOMPARE(QSet<QString>(folders.begin() + 1, folders.begin() + 3),
                 (QSet<QString>{at("B/"), at("C/")}));
        QCOMPARE(folders[3], at("B/D/"));

        QStringList oneLevel = {at("")};
        GetSubDirectories2016(m_platform->prompts, nullptr, oneLevel, false);
        QCOMPARE(oneLevel.size(), 3);
        QVERIFY(m_platform->prompts.messages.isEmpty());
    }

    void scanByExtension_data()
    {
        QTest::addColumn<QString>("extension");
        QTest::addColumn<QStringList>("files");
        QTest::newRow("doc") << "doc" << QStringList{"b.doc", "B/c.doc", "B/D/e.doc"};
        QTest::newRow("doc*") << "doc*"
                              << QStringList{"b.doc", "x.DOCX", "B/c.doc", "C/d.docm", "B/D/e.doc"};
        QTest::newRow("*") << "*" << QStringList{"b.doc",   "x.DOCX",   "n.txt",
                                                 "B/c.doc", "C/d.docm", "B/D/e.doc"};
    }

    void scanByExtension()
    {
        QFETCH(QString, extension);
        QFETCH(QStringList, files);
        addAllInFolder(extension, m_root);
        QStringList expected;
        for (const QString& file : files)
            expected << at(qPrintable(file));
        QStringList listed = rows();
        // Within one folder the file system decides the order; folders come level by level.
        QCOMPARE(QSet<QString>(listed.begin(), listed.end()),
                 QSet<QString>(expected.begin(), expected.end()));
        QCOMPARE(listed.size(), expected.size());
        QCOMPARE(listed.last(), at("B/D/e.doc"));
        QCOMPARE(m_form->MousePointer(), 0);
        QCOMPARE(m_platform->settings->value(setting::Extension.key), std::optional(extension));
        QCOMPARE(m_platform->settings->value(setting::LastFolder.key), std::optional(m_root));
    }

    void cancelledPrompts()
    {
        m_platform->settings->setValue(setting::Extension.key, QStringLiteral("rtf"));
        addAllInFolder(QString(), QString()); // the input box cancelled
        QCOMPARE(m_platform->prompts.inputs.last().proposed, QStringLiteral("rtf"));
        QCOMPARE(m_platform->prompts.inputs.last().title, QStringLiteral("Docuflume"));
        QVERIFY(m_platform->prompts.folderPicks.isEmpty());

        addAllInFolder(QStringLiteral("txt"), QString()); // the folder picker cancelled
        QCOMPARE(m_platform->prompts.folderPicks.size(), 1);
        addAllInFolder(QString(), QString());
        QCOMPARE(m_platform->prompts.inputs.last().proposed, QStringLiteral("txt"));
        QCOMPARE(m_form->documents().DocumentCount(), 0);
    }

    void linksAndOddNames()
    {
        const test::Link up(m_root, at("B/up")); // back to the top
        QVERIFY(up);
        const test::Link side(at("B"), at("C/side"));
        QVERIFY(side);
        const test::Link q(at("p"), at("q")); // round and round
        QVERIFY(q);
        const test::Link p(at("q"), at("p"));
        QVERIFY(p);
#ifndef Q_OS_WIN // a name that is not UTF-8 (Windows' names are UTF-16)
        const QByteArray odd = QFile::encodeName(m_root) + "/odd\xff";
        QVERIFY(::mkdir(odd.constData(), 0755) == 0);
        QVERIFY(::mkdir((odd + "/inner").constData(), 0755) == 0);
        QVERIFY(::close(::open((odd + "/inner/z.doc").constData(), O_CREAT | O_WRONLY, 0644)) == 0);
#endif

        addAllInFolder(QStringLiteral("doc"), m_root);
        const QStringList listed = rows();
        QCOMPARE(listed.size(), 3); // every folder once; the odd name with all below it left out
        QCOMPARE(QSet<QString>(listed.begin(), listed.end()).size(), 3);
        QVERIFY(m_platform->prompts.messages.isEmpty());
#ifndef Q_OS_WIN
        // Names QTemporaryDir could not remove.
        ::unlink((odd + "/inner/z.doc").constData());
        ::rmdir((odd + "/inner").constData());
        ::rmdir(odd.constData());
#endif
    }

#ifndef Q_OS_WIN // who may list a folder is decided by modes here, by access lists on Windows
    void unreadableSubfolder()
    {
        if (::geteuid() == 0)
            QSKIP("root reads every folder");
        QFile::setPermissions(m_root + QStringLiteral("/B"), QFile::WriteOwner);
        addAllInFolder(QStringLiteral("doc"), m_root);
        QFile::setPermissions(m_root + QStringLiteral("/B"),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QCOMPARE(rows(), QStringList{at("b.doc")});
        QVERIFY(m_platform->prompts.messages.isEmpty());
    }
#endif

#ifndef Q_OS_WIN // (a drive of the test's own would need a drive letter mapped, which Wine
                 // does not resolve)
    void pickedRootDoublesTheSeparator()
    {
        // Only the root comes back from the picker ending in a separator, and the joins add
        // another. The real root is far too big to scan here, so a child process takes the
        // test tree as its root.
        int channel[2];
        QVERIFY(::pipe(channel) == 0);
        const pid_t child = ::fork();
        if (child == 0) {
            ::close(channel[0]);
            const QByteArray root = QFile::encodeName(m_root);
            if (::chroot(root.constData()) != 0 &&
                (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0 || ::chroot(root.constData()) != 0))
                ::_exit(3);
            if (::chdir("/") != 0)
                ::_exit(3);
            addAllInFolder(QStringLiteral("doc"), QStringLiteral("/"));
            const QByteArray listed = rows().join(u'\n').toUtf8();
            const bool written =
                ::write(channel[1], listed.constData(), listed.size()) == ssize_t(listed.size());
            ::_exit(written ? 0 : 2);
        }
        ::close(channel[1]);
        QByteArray listed;
        char buffer[4096];
        for (ssize_t got; (got = ::read(channel[0], buffer, sizeof buffer)) > 0;)
            listed.append(buffer, got);
        ::close(channel[0]);
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY(WIFEXITED(status));
        if (WEXITSTATUS(status) == 3)
            QSKIP("this user may not give a process its own root");
        QCOMPARE(WEXITSTATUS(status), 0);
        QStringList expected = {QStringLiteral("//b.doc"), QStringLiteral("//B/c.doc"),
                                QStringLiteral("//B/D/e.doc")};
        QCOMPARE(QString::fromUtf8(listed).split(u'\n'), expected);
    }
#endif

    void listingsReadAhead()
    {
        // Enough folders that the helper thread and the taker both list some.
        for (int i = 0; i < 60; ++i) {
            for (int f = 0; f <= i % 7; ++f)
                test::touchFile(m_root + QStringLiteral("/many/f%1/%2.doc").arg(i).arg(f));
        }
        QStringList folders = {at("")};
        GetSubDirectories2016(m_platform->prompts, nullptr, folders, true);
        QCOMPARE(folders.size(), 65);
        for (const qsizetype readAhead : {1, 4, 256}) {
            FolderListings listings(folders, QStringLiteral("*.doc"), readAhead);
            for (qsizetype i = 0; i < folders.size(); ++i) {
                QStringList expected = ListFilesByPattern(folders[i], QStringLiteral("*.doc"));
                QStringList taken = listings.take(i);
                expected.sort();
                taken.sort();
                QCOMPARE(taken, expected);
            }
        }
        // Left after the first folder, as when the window goes away: it must end.
        FolderListings abandoned(folders, QStringLiteral("*"));
        QCOMPARE(abandoned.take(0).size(), 4);
    }

    void unsafeNames()
    {
        QVERIFY(!HasUnsafeChars(QString()));
        QVERIFY(!HasUnsafeChars(QStringLiteral("Проект 2021 – ✓")));
        for (const QString& name :
             {QStringLiteral("a\tb"), QStringLiteral("a?b"), QStringLiteral("a") + QChar(0x85),
              QStringLiteral("a") + QChar(0x7f), QStringLiteral("a") + QChar::ReplacementCharacter})
            QVERIFY2(HasUnsafeChars(name), qPrintable(name));
    }

private:
    // A path below the tree's top as the program writes it.
    QString at(const char* relative) const
    {
        return m_root + QDir::separator() + test::native(QString::fromUtf8(relative));
    }

    QString m_root;
};

QTEST_MAIN(TestFolderTree)
#include "tst_foldertree.moc"
