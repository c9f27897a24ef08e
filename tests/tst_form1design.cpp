// The main window's design, checked on the real widgets.

#include "doclist/DocumentList.h"
#include "support/WindowTest.h"
#include "ui/Form1.h"

#include <QApplication>
#include <QGroupBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTableView>
#include <QTest>

using namespace docuflume;

class TestForm1Design : public test::WindowTest
{
    Q_OBJECT

private Q_SLOTS:
    void init() { makeWindow(false); }

    void cleanup() { dropWindow(); }

    void controls_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("container");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QRect>("geometry");
        QTest::newRow("ListView1") << "ListView1"
                                   << "QTableView"
                                   << "Form1"
                                   << "" << QRect(8, 8, 520, 169);
        QTest::newRow("PushButton1") << "PushButton1"
                                     << "QPushButton"
                                     << "Form1"
                                     << "Add Word File(s)" << QRect(8, 184, 256, 27);
        QTest::newRow("PushButton4") << "PushButton4"
                                     << "QPushButton"
                                     << "Form1"
                                     << "Add All Word Files In Folder" << QRect(272, 184, 256, 27);
        QTest::newRow("PushButton3") << "PushButton3"
                                     << "QPushButton"
                                     << "Form1"
                                     << "Clear List" << QRect(8, 218, 256, 27);
        QTest::newRow("PushButton5") << "PushButton5"
                                     << "QPushButton"
                                     << "Form1"
                                     << "Load Sample/Example Files" << QRect(272, 218, 256, 27);
        QTest::newRow("Frame1") << "Frame1"
                                << "QGroupBox"
                                << "Form1"
                                << "Output Options" << QRect(8, 248, 520, 49);
        QTest::newRow("Option1") << "Option1"
                                 << "QRadioButton"
                                 << "Frame1"
                                 << "Normal" << QRect(16, 20, 73, 17);
        QTest::newRow("Option2") << "Option2"
                                 << "QRadioButton"
                                 << "Frame1"
                                 << "Filtered" << QRect(104, 20, 76, 17);
        QTest::newRow("Frame2") << "Frame2"
                                << "QGroupBox"
                                << "Form1"
                                << "Save Results To This Folder" << QRect(8, 302, 520, 53);
        QTest::newRow("Text1") << "Text1"
                               << "QLineEdit"
                               << "Frame2"
                               << "" << QRect(16, 20, 444, 23);
        QTest::newRow("PushButton7") << "PushButton7"
                                     << "QPushButton"
                                     << "Frame2"
                                     << "..." << QRect(464, 20, 40, 23);
        QTest::newRow("PushButton2") << "PushButton2"
                                     << "QPushButton"
                                     << "Form1"
                                     << "Start Converting To HTML" << QRect(8, 363, 520, 27);
        QTest::newRow("ProgressBar1") << "ProgressBar1"
                                      << "QProgressBar"
                                      << "Form1"
                                      << "Progress Bar" << QRect(8, 398, 520, 27);
    }

    void controls()
    {
        QFETCH(QString, name);
        QFETCH(QString, kind);
        QFETCH(QString, container);
        QFETCH(QString, caption);
        QFETCH(QRect, geometry);

        auto* widget = m_form->findChild<QWidget*>(name);
        QVERIFY2(widget, qPrintable(name));
        QVERIFY(widget->inherits(kind.toLatin1().constData()));
        QCOMPARE(widget->parentWidget()->objectName(), container);
        QCOMPARE(widget->geometry(), geometry);

        QString shown;
        if (auto* button = qobject_cast<QAbstractButton*>(widget))
            shown = button->text();
        else if (auto* frame = qobject_cast<QGroupBox*>(widget))
            shown = frame->title();
        else if (auto* edit = qobject_cast<QLineEdit*>(widget))
            shown = edit->text();
        else if (auto* bar = qobject_cast<QProgressBar*>(widget))
            shown = bar->text();
        QCOMPARE(shown, caption);
    }

    void window()
    {
        QCOMPARE(m_form->objectName(), QStringLiteral("Form1"));
        QCOMPARE(m_form->size(), QSize(536, 433));
        QCOMPARE(m_form->minimumSize(), m_form->maximumSize());
        const Qt::WindowFlags flags = m_form->windowFlags();
        QVERIFY(flags & Qt::WindowMinimizeButtonHint);
        QVERIFY(flags & Qt::WindowCloseButtonHint);
        QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
        QCOMPARE(m_form->palette().color(QPalette::Window), QColor(Qt::white));
        QVERIFY(m_form->autoFillBackground());
        // The progress bar's bottom edge stands 8 pixels above the client area's.
        auto* bar = m_form->findChild<QProgressBar*>(QStringLiteral("ProgressBar1"));
        QCOMPARE(m_form->height() - (bar->geometry().bottom() + 1), 8);
        // The design title is never shown: start-up sets the caption.
        QCOMPARE(m_form->windowTitle(), QString());
        m_form->Form_Load();
        QCOMPARE(m_form->windowTitle(), QStringLiteral("Docuflume"));
    }

    void fonts()
    {
        auto check = [](const QWidget* widget, qreal points) {
            const QFont font = widget->font();
            QCOMPARE(font.family(), QStringLiteral("Arial"));
            QCOMPARE(font.pointSizeF(), points);
            QCOMPARE(font.weight(), QFont::Bold);
            // What the machine actually draws with must keep Arial's metrics.
            const QString drawn = QFontInfo(font).family();
            QVERIFY2(drawn == QLatin1String("Arial") || drawn == QLatin1String("Liberation Sans"),
                     qPrintable(drawn));
        };
        check(m_form.get(), 9);
        check(m_form->findChild<QWidget*>(QStringLiteral("ListView1")), 9);
        for (const char* name : {"Frame1", "Frame2", "Option1", "Option2", "Text1"})
            check(m_form->findChild<QWidget*>(QLatin1String(name)), 9);
        for (const char* name : {"PushButton1", "PushButton2", "PushButton3", "PushButton4",
                                 "PushButton5", "PushButton7"})
            check(m_form->findChild<QWidget*>(QLatin1String(name)), 11.25);
    }

    void colours()
    {
        const QColor white(Qt::white);
        const QColor buttonText = QApplication::palette().color(QPalette::ButtonText);
        for (const char* name : {"Frame1", "Frame2", "Option1", "Option2"}) {
            auto* widget = m_form->findChild<QWidget*>(QLatin1String(name));
            QCOMPARE(widget->palette().color(widget->backgroundRole()), white);
            QVERIFY(widget->autoFillBackground());
        }
        for (const char* name : {"PushButton1", "PushButton2", "PushButton3", "PushButton4",
                                 "PushButton5", "PushButton7"}) {
            auto* button = m_form->findChild<QWidget*>(QLatin1String(name));
            QCOMPARE(button->palette().color(QPalette::Button), white);
            QCOMPARE(button->palette().color(QPalette::ButtonText), buttonText);
        }
        auto* bar = m_form->findChild<QWidget*>(QStringLiteral("ProgressBar1"));
        QCOMPARE(bar->palette().color(QPalette::Base), white);
        QCOMPARE(bar->palette().color(QPalette::Text), buttonText);
        // The list and the text box keep the system's colours.
        for (const char* name : {"ListView1", "Text1"}) {
            auto* widget = m_form->findChild<QWidget*>(QLatin1String(name));
            QCOMPARE(widget->palette().color(QPalette::Base),
                     QApplication::palette(widget).color(QPalette::Base));
            QCOMPARE(widget->palette().color(QPalette::Text),
                     QApplication::palette(widget).color(QPalette::Text));
        }
    }

    void listSetUp()
    {
        auto* list = m_form->findChild<QTableView*>(QStringLiteral("ListView1"));
        QCOMPARE(list->toolTip(),
                 QStringLiteral("Drag and drop files here. Double-click item to remove it. Move "
                                "| line to right and out of window to reveal full names."));
        QVERIFY(list->verticalHeader()->isHidden());
        QVERIFY(!list->horizontalHeader()->isHidden());
        QCOMPARE(list->model()->columnCount(), 1);
        QCOMPARE(list->editTriggers(), QAbstractItemView::NoEditTriggers);

        m_form->Form_Load();
        QCOMPARE(list->model()->headerData(0, Qt::Horizontal).toString(),
                 QStringLiteral(" Word File(s)"));
        QCOMPARE(list->horizontalHeader()->sectionSize(0), 466);
        QCOMPARE(m_form->documents().DocumentCount(), 0);

        // Rows show their path and nothing else, in the order added.
        m_form->documents().AddDocument(QStringLiteral("/b.doc"));
        m_form->documents().AddDocument(QStringLiteral("/a.doc"));
        QCOMPARE(list->model()->rowCount(), 2);
        QCOMPARE(list->model()->index(0, 0).data().toString(), QStringLiteral("/b.doc"));
        QCOMPARE(list->model()->index(1, 0).data().toString(), QStringLiteral("/a.doc"));
        QCOMPARE(list->model()->headerData(0, Qt::Horizontal).toString(),
                 QStringLiteral(" Word File(s)"));
    }

    void progressText()
    {
        auto* bar = m_form->findChild<QProgressBar*>(QStringLiteral("ProgressBar1"));
        QCOMPARE(bar->minimum(), 0);
        QCOMPARE(bar->maximum(), 100);
        QCOMPARE(bar->value(), 0);
        QVERIFY(bar->isTextVisible());
        QCOMPARE(m_form->progressText(), QStringLiteral("Progress Bar"));
        // A file name is shown literally, even with the bar's own placeholders in it.
        m_form->setProgressText(QStringLiteral("Processing: 100%p done.doc"));
        bar->setValue(50);
        QCOMPARE(bar->text(), QStringLiteral("Processing: 100%p done.doc"));
        QCOMPARE(m_form->progressText(), QStringLiteral("Processing: 100%p done.doc"));
    }

    void tabOrder()
    {
        const QStringList expected = {QStringLiteral("ListView1"),   QStringLiteral("Option2"),
                                      QStringLiteral("Option1"),     QStringLiteral("PushButton1"),
                                      QStringLiteral("PushButton4"), QStringLiteral("PushButton2"),
                                      QStringLiteral("PushButton3"), QStringLiteral("PushButton5"),
                                      QStringLiteral("Text1"),       QStringLiteral("PushButton7")};
        QStringList chain;
        QWidget* widget = m_form->findChild<QWidget*>(QStringLiteral("ListView1"));
        do {
            if ((widget->focusPolicy() & Qt::TabFocus) && !widget->objectName().isEmpty())
                chain << widget->objectName();
            widget = widget->nextInFocusChain();
        } while (widget != m_form->findChild<QWidget*>(QStringLiteral("ListView1")));
        QCOMPARE(chain, expected);
        // Frames and the progress bar are passed over.
        for (const char* name : {"Frame1", "Frame2", "ProgressBar1"})
            QVERIFY(
                !(m_form->findChild<QWidget*>(QLatin1String(name))->focusPolicy() & Qt::TabFocus));
    }

    void opensCentredWithTheListFocused()
    {
        m_form->Form_Load();
        m_form->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
        QApplication::setActiveWindow(m_form.get());
        QTRY_COMPARE(QApplication::focusWidget(),
                     m_form->findChild<QWidget*>(QStringLiteral("ListView1")));
        const QRect screen = m_form->screen()->availableGeometry();
        QCOMPARE(m_form->frameGeometry().center(), screen.center());
        QVERIFY(m_form->findChild<QRadioButton*>(QStringLiteral("Option1"))->isChecked());
        QVERIFY(!m_form->findChild<QRadioButton*>(QStringLiteral("Option2"))->isChecked());
    }

private:
};

QTEST_MAIN(TestForm1Design)
#include "tst_form1design.moc"
