// Files and folders dropped on the real list, as real drag-and-drop events.

#include "doclist/DocumentList.h"
#include "support/TestFiles.h"
#include "support/WindowTest.h"

#include <QDir>
#include <QDragEnterEvent>
#include <QFile>
#include <QMimeData>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <cstdlib>

#ifdef Q_OS_WIN
#include <QProcess>
#else
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

using namespace docuflume;

class TestDropIntake : public test::WindowTest
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        makeWindow();
        m_base = m_platform->folder.filePath(QStringLiteral("drop"));
        for (const char* file : {"A/a.doc", "A/b.txt", "A/~$a.doc", "A/.hidden", "A/.locked",
                                 "A/sub/c.doc", "B/d.doc", "loose/~$x.doc", "loose/notes.txt"})
            test::touchFile(m_base + u'/' + QLatin1String(file));
        test::hide(m_base + QStringLiteral("/A/.hidden"));
        // Hidden and read-only is 35, not 34: such a file is taken.
        test::hide(m_base + QStringLiteral("/A/.locked"));
        QFile::setPermissions(m_base + QStringLiteral("/A/.locked"), QFile::ReadOwner);
    }

    void cleanup() { dropWindow(); }

    void onlyFileListsAreTaken()
    {
        QMimeData text;
        text.setText(QStringLiteral("just words"));
        QVERIFY(!dragEnter(text));
        drop(text);
        QCOMPARE(m_form->documents().DocumentCount(), 0);

        QMimeData files;
        files.setUrls({QUrl::fromLocalFile(m_base + QStringLiteral("/loose/notes.txt"))});
        QVERIFY(dragEnter(files));
    }

    void neverTakenAsAMove()
    {
        // Answering "moved" would let a file manager delete the dropped files.
        QMimeData files;
        files.setUrls({QUrl::fromLocalFile(m_base + QStringLiteral("/B/d.doc"))});
        const Qt::DropActions any = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
        QDragEnterEvent enter(QPoint(20, 40), any, &files, Qt::LeftButton, Qt::ShiftModifier);
        enter.setDropAction(Qt::MoveAction); // what Shift asks of a file manager
        QCoreApplication::sendEvent(viewport(), &enter);
        QVERIFY(enter.isAccepted());
        QCOMPARE(enter.dropAction(), Qt::CopyAction);

        QDropEvent linked(QPointF(20, 40), Qt::MoveAction | Qt::LinkAction, &files, Qt::LeftButton,
                          Qt::NoModifier);
        QVERIFY(deliver(linked));
        QVERIFY(linked.isAccepted());
        QCOMPARE(linked.dropAction(), Qt::LinkAction);
        QCOMPARE(rows(), QStringList{row("B/d.doc")});

        QDropEvent moveOnly(QPointF(20, 40), Qt::MoveAction, &files, Qt::LeftButton,
                            Qt::NoModifier);
        QVERIFY(deliver(moveOnly));
        QVERIFY(!moveOnly.isAccepted());
        QCOMPARE(rows().size(), 1);
    }

    void droppedFilesAndFolders()
    {
        QMimeData files;
        files.setUrls({QUrl::fromLocalFile(m_base + QStringLiteral("/loose/~$x.doc")),
                       QUrl::fromLocalFile(m_base + QStringLiteral("/A")),
                       QUrl::fromLocalFile(m_base + QStringLiteral("/loose/notes.txt")),
                       QUrl::fromLocalFile(m_base + QStringLiteral("/B"))});
        drop(files);
        const QStringList listed = rows();
        QCOMPARE(listed.size(), 7);
        // Dropped files unchanged and in the source's order; each folder's tree in its place.
        QCOMPARE(listed[0], row("loose/~$x.doc"));
        QCOMPARE(QSet<QString>(listed.begin() + 1, listed.begin() + 4),
                 (QSet<QString>{row("A/a.doc"), row("A/b.txt"), row("A/.locked")}));
        QCOMPARE(listed[4], row("A/sub/c.doc"));
        QCOMPARE(listed[5], row("loose/notes.txt"));
        QCOMPARE(listed[6], row("B/d.doc"));
        QVERIFY(m_platform->prompts.messages.isEmpty());

        drop(files); // the same drop again: every row once more
        QCOMPARE(m_form->documents().DocumentCount(), 14);
    }

    // Closing the window while a dropped folder is expanded ends the program at once, as
    // during a scan or a run; nothing more is added. Run in a child, which that ends.
    void closingDuringAFolderDropEnds()
    {
        QMimeData folder;
        folder.setUrls({QUrl::fromLocalFile(m_base + QStringLiteral("/A"))});
        const auto closeWhileDropping = [&] {
            QTest::qSleep(20); // the walk's next yield lets the window's events through
            QTimer::singleShot(0, m_form.get(), [this] { m_form->close(); });
            drop(folder);
            std::_Exit(m_form->documents().DocumentCount() > 0 ? 5 : 6);
        };
#ifdef Q_OS_WIN
        // (This test program again, running only this test, as the child.)
        if (qEnvironmentVariableIsSet("DOCUFLUME_TEST_CHILD"))
            closeWhileDropping();
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DOCUFLUME_TEST_CHILD"), QStringLiteral("1"));
        // (Its own temporary folder, which it ends without removing, inside this one's.)
        for (const char* name : {"TMP", "TEMP"})
            environment.insert(QString::fromLatin1(name), test::native(m_platform->folder.path()));
        child.setProcessEnvironment(environment);
        child.start(QCoreApplication::applicationFilePath(),
                    {QString::fromLatin1(QTest::currentTestFunction())});
        QVERIFY(child.waitForFinished(60000));
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 0);
#else
        const pid_t child = ::fork();
        if (child == 0)
            closeWhileDropping();
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), 0);
#endif
    }

#ifndef Q_OS_WIN // (Windows' walk stops at its path limit, long before such a file.)
    void entryTooDeepToReadIsReported()
    {
        // A file whose full path is longer than the system takes: the folder can be listed,
        // but the file cannot be read by its path. Reported, and the drop goes on.
        QString folder = m_base + QStringLiteral("/deep");
        while (folder.size() + 251 < 3900)
            folder += u'/' + QString(250, u'x');
        folder += u'/' + QString(3900 - folder.size() - 1, u'x'); // 3,900 in all
        QVERIFY(QDir().mkpath(folder));
        const QByteArray name(250, 'y');
        const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY);
        QVERIFY(fd >= 0);
        QVERIFY(::close(::openat(fd, name.constData(), O_CREAT | O_WRONLY, 0644)) == 0);
        test::touchFile(m_base + QStringLiteral("/deep/shallow.doc"));

        QMimeData files;
        files.setUrls({QUrl::fromLocalFile(m_base + QStringLiteral("/deep")),
                       QUrl::fromLocalFile(m_base + QStringLiteral("/B"))});
        drop(files);
        ::unlinkat(fd, name.constData(), 0); // beyond what QTemporaryDir can remove
        ::close(fd);

        QCOMPARE(rows(), (QStringList{row("deep/shallow.doc"), row("B/d.doc")}));
        QCOMPARE(m_platform->prompts.messages.size(), 1);
        const MessageRequest& report = m_platform->prompts.messages[0];
        QCOMPARE(report.title, QStringLiteral("Application Error"));
        QVERIFY2(report.text.contains(QStringLiteral(".ListView1_OLEDragDrop at line 110")),
                 qPrintable(report.text));
    }
#endif

private:
    // A row as the list shows a file below the drop's folder.
    QString row(const char* relative) const
    {
        return test::native(m_base + u'/' + QString::fromUtf8(relative));
    }

    QWidget* viewport() const
    {
        return m_form->findChild<QTableView*>(QStringLiteral("ListView1"))->viewport();
    }

    bool dragEnter(const QMimeData& data)
    {
        QDragEnterEvent enter(QPoint(20, 40), Qt::CopyAction, &data, Qt::LeftButton,
                              Qt::NoModifier);
        QCoreApplication::sendEvent(viewport(), &enter);
        return enter.isAccepted();
    }

    // Delivered to the window's filter of list events directly: on its way through the
    // application, a synthetic drop event would need a drag in progress.
    bool deliver(QDropEvent& event)
    {
        return static_cast<QObject*>(m_form.get())->eventFilter(viewport(), &event);
    }
    void drop(const QMimeData& data)
    {
        QDropEvent event(QPointF(20, 40), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QVERIFY(deliver(event));
    }

    QString m_base;
};

QTEST_MAIN(TestDropIntake)
#include "tst_dropintake.moc"
