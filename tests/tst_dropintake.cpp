// Files and folders dropped on the real list, as real drag-and-drop events.

#include "doclist/DocumentList.h"
#include "support/WindowTest.h"

#include <QDir>
#include <QDragEnterEvent>
#include <QFile>
#include <QMimeData>
#include <QTableView>
#include <QTest>
#include <QUrl>

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
            touch(QLatin1String(file));
        // Hidden and read-only is 35, not 34: such a file is taken.
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
        QCOMPARE(listed[0], m_base + QStringLiteral("/loose/~$x.doc"));
        QCOMPARE(
            QSet<QString>(listed.begin() + 1, listed.begin() + 4),
            (QSet<QString>{m_base + QStringLiteral("/A/a.doc"), m_base + QStringLiteral("/A/b.txt"),
                           m_base + QStringLiteral("/A/.locked")}));
        QCOMPARE(listed[4], m_base + QStringLiteral("/A/sub/c.doc"));
        QCOMPARE(listed[5], m_base + QStringLiteral("/loose/notes.txt"));
        QCOMPARE(listed[6], m_base + QStringLiteral("/B/d.doc"));
        QVERIFY(m_platform->prompts.messages.isEmpty());

        drop(files); // the same drop again: every row once more
        QCOMPARE(m_form->documents().DocumentCount(), 14);
    }

private:
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

    // The drop itself goes to the handler: a synthetic drop event needs a drag in progress.
    void drop(const QMimeData& data) { m_form->ListView1_OLEDragDrop(&data); }

    void touch(const QString& relative)
    {
        const QString path = m_base + u'/' + relative;
        QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }

    QString m_base;
};

QTEST_MAIN(TestDropIntake)
#include "tst_dropintake.moc"
