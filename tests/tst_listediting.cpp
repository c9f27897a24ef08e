// Removing, clearing and reordering entries with real key and mouse events on the list.

#include "doclist/DocumentList.h"
#include "support/WindowTest.h"

#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <QTest>

using namespace docuflume;

class TestListEditing : public test::WindowTest
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        makeWindow();
        showWindow();
    }

    void cleanup() { dropWindow(); }

    void deleteKeyAndDoubleClick()
    {
        QTest::keyClick(list(), Qt::Key_Delete); // an empty list
        fill({"A", "B", "C", "D"});
        list()->setCurrentIndex(list()->model()->index(1, 0));
        QTest::keyClick(list(), Qt::Key_Backspace);
        QTest::keyClick(list(), Qt::Key_Period);
        QCOMPARE(rows(), (QStringList{"A", "B", "C", "D"}));
        QTest::keyClick(list(), Qt::Key_Delete, Qt::ShiftModifier);
        QCOMPARE(rows(), (QStringList{"A", "C", "D"}));

        m_form->setMousePointer(Form1::PointerHourglass);
        QTest::keyClick(list(), Qt::Key_Delete);
        m_form->PushButton3_Click();
        QCOMPARE(rows().size(), 3);
        m_form->setMousePointer(Form1::PointerDefault);

        // A double-click below the last entry removes the current one.
        list()->setCurrentIndex(list()->model()->index(0, 0));
        QTest::mouseDClick(list()->viewport(), Qt::LeftButton, {}, QPoint(30, 150));
        QCOMPARE(rows(), (QStringList{"C", "D"}));

        m_form->findChild<QPushButton*>(QStringLiteral("PushButton3"))->click();
        QCOMPARE(rows(), QStringList());
        m_form->PushButton3_Click(); // clearing an empty list says nothing
        QVERIFY(m_platform->prompts.messages.isEmpty());
    }

    void slowDragMovesOneStepAtATime()
    {
        // The drag pointer the program ships.
        makeWindow(true, QStringLiteral(DOCUFLUME_PROGRAM_DIR));
        showWindow();
        fill({"A", "B", "C", "D"});
        press(0);
        QCOMPARE(list()->viewport()->cursor().shape(), Qt::BitmapCursor);
        QCOMPARE(list()->viewport()->cursor().pixmap().size(), QSize(32, 32));
        moveOver(1, 330);
        moveOver(2, 330);
        release(2);
        QCOMPARE(rows(), (QStringList{"B", "C", "A", "D"}));
        QCOMPARE(list()->currentIndex().row(), 2);
        QVERIFY(!m_form->isDragActive());
        QCOMPARE(list()->viewport()->cursor().shape(), Qt::ArrowCursor);
    }

    void fastJumpExchangesTwo()
    {
        fill({"A", "B", "C", "D"});
        press(0);
        moveOver(3, 330);
        release(3);
        QCOMPARE(rows(), (QStringList{"D", "B", "C", "A"}));
    }

    void pressOnEmptySpaceDragsTheLastClicked()
    {
        fill({"A", "B", "C", "D"});
        press(0);
        release(0);
        // A press below the entries: no item click, the earlier entry is dragged on.
        QTest::mousePress(list()->viewport(), Qt::LeftButton, {}, QPoint(30, 150));
        moveOver(1, 330);
        QCOMPARE(rows(), (QStringList{"B", "A", "C", "D"}));
        QTest::mouseRelease(list()->viewport(), Qt::LeftButton, {}, QPoint(30, 150));

        // Once that entry is gone, nothing is dragged.
        m_form->documents().RemoveDocument(2);
        QTest::mousePress(list()->viewport(), Qt::LeftButton, {}, QPoint(30, 150));
        moveOver(0, 330);
        QCOMPARE(rows(), (QStringList{"B", "C", "D"}));
    }

    void scrollBands()
    {
        fillMany();
        QScrollBar* bar = list()->verticalScrollBar();
        QTRY_VERIFY(bar->maximum() > 30); // laid out
        auto dragAt = [&](int screenY) {
            bar->setValue(20); // entry 21 at the top
            const int top = bar->value();
            press(top + 1);
            moveOver(top, screenY);
            const int moved = bar->value() - top;
            release(top);
            return moved;
        };
        QCOMPARE(dragAt(300), -1); // the entry above comes into view
        QCOMPARE(dragAt(305), 0);
        QCOMPARE(dragAt(364), 0);
        const int rowsShown = list()->viewport()->height() / list()->rowHeight(0);
        bar->setValue(20);
        press(20 + rowsShown - 2);
        moveOver(20 + rowsShown - 1, 365);
        release(20 + rowsShown - 1);
        QVERIFY(bar->value() > 20); // the entry below comes into view
    }

    // The button held still over an entry at the list's bottom edge: the list neither
    // scrolls on its own nor moves its selection, and no entry changes places.
    void heldStillAtTheEdge()
    {
        const QStringList many = fillMany();
        QScrollBar* bar = list()->verticalScrollBar();
        QTRY_VERIFY(bar->maximum() > 30); // laid out
        bar->setValue(20);
        const QPoint edge(30, list()->viewport()->height() - 4);
        const int pressed = list()->indexAt(edge).row();
        QVERIFY(pressed > 20);
        QTest::mousePress(list()->viewport(), Qt::LeftButton, {}, edge);
        QMouseEvent still(QEvent::MouseMove, edge, QPointF(edge.x(), 330), Qt::NoButton,
                          Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(list()->viewport(), &still);
        QTest::qWait(1000);
        QCoreApplication::sendEvent(list()->viewport(), &still);
        QCOMPARE(bar->value(), 20);
        QCOMPARE(rows(), many);
        QCOMPARE(list()->currentIndex().row(), pressed);
        QTest::mouseRelease(list()->viewport(), Qt::LeftButton, {}, edge);
    }

    // Every key that moves the current entry brings it into view, as the list always did.
    void keysKeepTheCurrentEntryInView_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("times");
        QTest::newRow("Down, 30 times") << 0 << int(Qt::Key_Down) << 30;
        QTest::newRow("Page Down, twice") << 0 << int(Qt::Key_PageDown) << 2;
        QTest::newRow("End") << 0 << int(Qt::Key_End) << 1;
        QTest::newRow("Up, 30 times") << 59 << int(Qt::Key_Up) << 30;
        QTest::newRow("Page Up, twice") << 59 << int(Qt::Key_PageUp) << 2;
        QTest::newRow("Home") << 59 << int(Qt::Key_Home) << 1;
    }

    void keysKeepTheCurrentEntryInView()
    {
        QFETCH(int, from);
        QFETCH(int, key);
        QFETCH(int, times);
        fillMany();
        QTRY_VERIFY(list()->verticalScrollBar()->maximum() > 30); // laid out
        list()->setCurrentIndex(list()->model()->index(from, 0));
        list()->scrollTo(list()->currentIndex());
        const int before = list()->verticalScrollBar()->value();
        for (int k = 0; k < times; ++k)
            QTest::keyClick(list(), Qt::Key(key));
        QVERIFY(list()->currentIndex().row() != from);
        QVERIFY(list()->verticalScrollBar()->value() != before);
        QVERIFY2(list()->viewport()->rect().contains(list()->visualRect(list()->currentIndex())),
                 qPrintable(QString::number(list()->currentIndex().row())));
    }

    // A held button moved over another entry of the same text: the window has nothing to
    // reorder, and the list's own selection does not follow the pointer either.
    void selectionDoesNotFollowAHeldButton()
    {
        fill({"A", "A", "A", "B"});
        press(0);
        moveOver(2, 330);
        QCOMPARE(list()->currentIndex().row(), 0);
        QCOMPARE(list()->selectionModel()->selectedRows().size(), 1);
        QCOMPARE(list()->selectionModel()->selectedRows().first().row(), 0);
        release(2);
    }

private:
    QTableView* list() const { return m_form->findChild<QTableView*>(QStringLiteral("ListView1")); }

    void fill(const QStringList& texts)
    {
        for (const QString& text : texts)
            m_form->documents().AddDocument(text);
    }
    void fill(std::initializer_list<const char*> texts)
    {
        for (const char* text : texts)
            m_form->documents().AddDocument(QString::fromLatin1(text));
    }

    // Sixty rows, more than the list shows.
    QStringList fillMany()
    {
        QStringList many;
        for (int i = 0; i < 60; ++i)
            many << QStringLiteral("doc%1").arg(i, 2, 10, QLatin1Char('0'));
        fill(many);
        return many;
    }

    QPoint centreOf(int row) const
    {
        return list()->visualRect(list()->model()->index(row, 0)).center();
    }

    void press(int row)
    {
        QTest::mousePress(list()->viewport(), Qt::LeftButton, {}, centreOf(row));
    }
    void release(int row)
    {
        QTest::mouseRelease(list()->viewport(), Qt::LeftButton, {}, centreOf(row));
    }

    // A move with the button held, with the pointer at `screenY` on the screen.
    void moveOver(int row, int screenY)
    {
        const QPoint local = centreOf(row);
        QMouseEvent move(QEvent::MouseMove, local, QPointF(local.x(), screenY), Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(list()->viewport(), &move);
    }
};

QTEST_MAIN(TestListEditing)
#include "tst_listediting.moc"
