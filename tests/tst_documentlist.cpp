// The document list: appending, counting, the membership test and 1-based positions.

#include "doclist/DocumentList.h"
#include "shell/Failure.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

using namespace docuflume;

class TestDocumentList : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void appendsInOrderAndKeepsDuplicates()
    {
        DocumentList list;
        QAbstractItemModelTester tester(&list,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        QCOMPARE(list.DocumentCount(), 0);
        const QStringList paths = {QStringLiteral("/docs/b.doc"), QStringLiteral("/docs/a.doc"),
                                   QStringLiteral("/docs/b.doc")};
        for (const QString& path : paths)
            list.AddDocument(path);
        QCOMPARE(list.DocumentCount(), 3);
        for (int position = 1; position <= 3; ++position)
            QCOMPARE(list.DocumentText(position), paths[position - 1]);
        QCOMPARE(list.data(list.index(0)).toString(), paths[0]);
    }

    void containsIsExact()
    {
        DocumentList list;
        QVERIFY(!list.ContainsDocument(QStringLiteral("C:\\Docs\\A.doc")));
        list.AddDocument(QStringLiteral("C:\\Docs\\a.doc"));
        QVERIFY(!list.ContainsDocument(QStringLiteral("C:\\Docs\\A.doc")));
        QVERIFY(list.ContainsDocument(QStringLiteral("C:\\Docs\\a.doc")));
        list.Clear();
        list.AddDocument(QStringLiteral("C:\\Docs\\\\A.doc"));
        QVERIFY(!list.ContainsDocument(QStringLiteral("C:\\Docs\\A.doc")));
        list.AddDocument(QStringLiteral("/docs/x.doc"));
        QVERIFY(list.ContainsDocument(QStringLiteral("/docs/x.doc")));
        QVERIFY(!list.ContainsDocument(QStringLiteral("/docs/x.doc ")));
    }

    void positionsOutsideTheListFail()
    {
        DocumentList list;
        list.AddDocument(QStringLiteral("/a.doc"));
        QVERIFY_THROWS_EXCEPTION(Failure, list.DocumentText(0));
        QVERIFY_THROWS_EXCEPTION(Failure, list.DocumentText(2));
        QVERIFY_THROWS_EXCEPTION(Failure, list.RemoveDocument(2));
        QVERIFY_THROWS_EXCEPTION(Failure, list.SetDocumentText(-1, QString()));
        QCOMPARE(list.DocumentCount(), 1);
    }

    void editingKeepsTheModelConsistent()
    {
        DocumentList list;
        QAbstractItemModelTester tester(&list,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        for (const char* name : {"/a", "/b", "/c", "/d"})
            list.AddDocument(QString::fromLatin1(name));
        QSignalSpy changed(&list, &QAbstractItemModel::dataChanged);
        list.SetDocumentText(1, QStringLiteral("/x"));
        QCOMPARE(changed.size(), 1);
        list.RemoveDocument(2);
        QCOMPARE(list.DocumentCount(), 3);
        QCOMPARE(list.DocumentText(1), QStringLiteral("/x"));
        QCOMPARE(list.DocumentText(2), QStringLiteral("/c"));
        list.Clear();
        QCOMPARE(list.DocumentCount(), 0);
        list.Clear();
        QCOMPARE(list.DocumentCount(), 0);
    }

    void oneColumnHeader()
    {
        DocumentList list;
        QCOMPARE(static_cast<QAbstractItemModel&>(list).columnCount(), 1);
        QCOMPARE(list.headerData(0, Qt::Horizontal).toString(), QString());
        list.AddColumnHeader(QStringLiteral(" Word File(s)"));
        for (int i = 0; i < 1000; ++i)
            list.AddDocument(QStringLiteral("/doc%1").arg(i));
        // The header never shows a count.
        QCOMPARE(list.headerData(0, Qt::Horizontal).toString(), QStringLiteral(" Word File(s)"));
        QCOMPARE(list.columnHeaderCount(), 1);
    }
};

QTEST_GUILESS_MAIN(TestDocumentList)
#include "tst_documentlist.moc"
