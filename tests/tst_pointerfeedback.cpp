// The window pointer and the hover rule, driven by real pointer moves over the real window.

#include "support/WindowTest.h"
#include "ui/Form1.h"

#include <QApplication>
#include <QLineEdit>
#include <QTableView>
#include <QTest>

using namespace docuflume;

class TestPointerFeedback : public test::WindowTest
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        makeWindow();
        showWindow();
    }

    void cleanup() { dropWindow(); }

    void pointerValues()
    {
        QCOMPARE(m_form->MousePointer(), 0);
        QCOMPARE(m_form->cursor().shape(), Qt::ArrowCursor);
        QCOMPARE(text1()->cursor().shape(), Qt::IBeamCursor);
        m_form->setMousePointer(Form1::PointerArrow);
        QCOMPARE(m_form->cursor().shape(), Qt::ArrowCursor);
        m_form->setMousePointer(Form1::PointerHourglass);
        QCOMPARE(m_form->cursor().shape(), Qt::WaitCursor);
        // The text box's own pointer gives way to the window's.
        QCOMPARE(text1()->cursor().shape(), Qt::WaitCursor);
        m_form->setMousePointer(Form1::PointerCustom);
        QCOMPARE(m_form->cursor().shape(), Qt::PointingHandCursor);
        QPixmap hand(16, 16);
        hand.fill(Qt::red);
        m_form->setMouseIcon(QCursor(hand, 3, 1));
        QCOMPARE(m_form->MousePointer(), 99);
        QCOMPARE(m_form->cursor().shape(), Qt::BitmapCursor);
        QCOMPARE(m_form->cursor().hotSpot(), QPoint(3, 1));
        m_form->setMousePointer(Form1::PointerDefault);
        QCOMPARE(m_form->cursor().shape(), Qt::ArrowCursor);
        QCOMPARE(text1()->cursor().shape(), Qt::IBeamCursor);
    }

    void handOverButtonsArrowElsewhere()
    {
        moveOver("PushButton1");
        QCOMPARE(m_form->MousePointer(), 99);
        moveOverBackground();
        QCOMPARE(m_form->MousePointer(), 0);

        const char* buttons[] = {"PushButton2", "PushButton3", "PushButton4", "PushButton5",
                                 "PushButton7"};
        const char* elsewhere[] = {"Frame1", "Frame2", "Text1", "ListView1", "Frame1"};
        for (int i = 0; i < 5; ++i) {
            moveOver(buttons[i]);
            QVERIFY2(m_form->MousePointer() == 99, buttons[i]);
            if (QLatin1String(elsewhere[i]).startsWith(QLatin1String("Frame")))
                moveOverFrameBorder(elsewhere[i]);
            else
                moveOver(elsewhere[i]);
            QVERIFY2(m_form->MousePointer() == 0, elsewhere[i]);
        }
    }

    void optionButtonsAndProgressBarKeepThePointer()
    {
        moveOver("PushButton1");
        QCOMPARE(m_form->MousePointer(), 99);
        // Straight onto an option button: neither the frame nor the window reports the move.
        moveOver("Option1");
        QCOMPARE(m_form->MousePointer(), 99);
        moveOver("Option2");
        QCOMPARE(m_form->MousePointer(), 99);
        moveOver("PushButton2");
        moveOver("ProgressBar1");
        QCOMPARE(m_form->MousePointer(), 99);
    }

    void hourglassLeftAlone()
    {
        m_form->setMousePointer(Form1::PointerHourglass);
        moveOver("PushButton2");
        QCOMPARE(m_form->MousePointer(), 11);
        moveOverBackground();
        moveOver("ListView1");
        moveOver("Text1");
        QCOMPARE(m_form->MousePointer(), 11);
        QCOMPARE(m_form->cursor().shape(), Qt::WaitCursor);

        // Once the busy period resets the pointer, the next move shows the hand again.
        m_form->setMousePointer(Form1::PointerDefault);
        moveOver("PushButton2");
        QCOMPARE(m_form->MousePointer(), 99);
    }

    void ruleSetsTheValueAtEveryMove()
    {
        moveOver("PushButton1");
        // Changed behind the rule's back: the next move over a button sets 99 again.
        m_form->setMousePointer(Form1::PointerArrow);
        moveOver("PushButton1", QPoint(5, 5));
        QCOMPARE(m_form->MousePointer(), 99);
    }

private:
    QLineEdit* text1() const { return m_form->findChild<QLineEdit*>(QStringLiteral("Text1")); }

    void moveOver(const char* name, QPoint offset = {})
    {
        auto* widget = m_form->findChild<QWidget*>(QLatin1String(name));
        QVERIFY2(widget, name);
        if (auto* list = qobject_cast<QTableView*>(widget))
            widget = list->viewport();
        const QPoint local = offset.isNull() ? widget->rect().center() : offset;
        QTest::mouseMove(m_form.get(), widget->mapTo(m_form.get(), local));
        QApplication::processEvents();
    }

    void moveOverFrameBorder(const char* name)
    {
        auto* frame = m_form->findChild<QWidget*>(QLatin1String(name));
        QVERIFY2(frame, name);
        // Inside the frame, right of its controls.
        const QPoint local(frame->width() - 6, frame->height() / 2);
        QVERIFY(!frame->childAt(local));
        QTest::mouseMove(m_form.get(), frame->mapTo(m_form.get(), local));
        QApplication::processEvents();
    }

    void moveOverBackground()
    {
        // The gap between the two button rows.
        const QPoint between(268, 214);
        QVERIFY(!m_form->childAt(between));
        QTest::mouseMove(m_form.get(), between);
        QApplication::processEvents();
    }
};

QTEST_MAIN(TestPointerFeedback)
#include "tst_pointerfeedback.moc"
