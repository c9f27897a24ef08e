// The settings' text forms, the output options and folder, and the Open File dialog, on the
// real window with scripted dialogs and a temporary settings file.

#include "app/Settings.h"
#include "app/SettingsStore.h"
#include "doclist/AddFiles.h"
#include "doclist/DocumentList.h"
#include "shell/Failure.h"
#include "shell/QtPrompts.h"
#include "support/TestFiles.h"
#include "support/WindowTest.h"
#include "ui/Form1.h"

#include <QApplication>
#include <QDir>
#include <QInputDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

using namespace docuflume;

namespace {

// A store whose writes fail, as a full disk or a read-only settings file would.
class BrokenStore final : public SettingsStore
{
public:
    std::optional<QString> value(const QString&) const override { return std::nullopt; }
    void setValue(const QString& key, const QString&) override
    {
        throw Failure(Failure::PermissionDenied, QStringLiteral("cannot store ") + key);
    }
};

} // namespace

class TestOptionsAndDialogs : public test::WindowTest
{
    Q_OBJECT

private Q_SLOTS:
    void init() { makeWindow(); }

    void cleanup() { dropWindow(); }

    // Every handler that reports a failure names itself, with the line that failed, in the
    // box the real window shows; each failure comes from the scripted services. (The drop's
    // is read in tst_dropintake, from a file the system cannot read; nothing the "Clear
    // List" button calls can fail.)
    void handlersNameThemselves_data()
    {
        QTest::addColumn<QString>("handler");
        QTest::addColumn<int>("line");
        QTest::newRow("a hand pointer that is no picture") << "Form_Load" << 106;
        QTest::newRow("the Open File dialog fails") << "PushButton1_Click" << 112;
        QTest::newRow("an export fails") << "PushButton2_Click" << 144;
        QTest::newRow("the extension prompt fails") << "PushButton4_Click" << 100;
        QTest::newRow("the samples question fails") << "PushButton5_Click" << 100;
        QTest::newRow("the folder picker fails") << "PushButton7_Click" << 100;
    }

    void handlersNameThemselves()
    {
        QFETCH(QString, handler);
        QFETCH(int, line);
        if (handler == QLatin1String("Form_Load")) {
            const QString program = m_platform->folder.filePath(QStringLiteral("program"));
            test::touchFile(program + QStringLiteral("/HAND-M.CUR"), "not a picture");
            startWindow(program);
        } else {
            if (handler == QLatin1String("PushButton2_Click")) {
                m_form->documents().AddDocument(QStringLiteral("/docs/report.docx"));
                m_form->findChild<QLineEdit*>(QStringLiteral("Text1"))
                    ->setText(m_platform->folder.path());
                m_platform->automation.failAt(QStringLiteral("open"));
            } else {
                m_platform->prompts.failNext = Failure(
                    Failure::AutomationError, QStringLiteral("The dialog cannot be shown."));
            }
            m_form->findChild<QPushButton*>(handler.section(u'_', 0, 0))->click();
        }
        QStringList boxes;
        for (const MessageRequest& box : std::as_const(m_platform->prompts.messages)) {
            if (box.title == QLatin1String("Application Error"))
                boxes << box.text;
        }
        QCOMPARE(boxes.size(), 1);
        QVERIFY2(boxes.first().contains(QStringLiteral("in Quarnel2021/08/31.Form1.%1 at line %2\r")
                                            .arg(handler)
                                            .arg(line)),
                 qPrintable(boxes.first()));
    }

    void booleans()
    {
        for (const char* text : {"True", "true", "TRUE", "1", "-1", " 2 ", "0.5"})
            QVERIFY2(ToBoolean(QString::fromLatin1(text)), text);
        for (const char* text : {"False", "false", "0", "0.0"})
            QVERIFY2(!ToBoolean(QString::fromLatin1(text)), text);
        for (const char* text : {"yes", "", "Truex", "1,5"})
            QVERIFY_THROWS_EXCEPTION(Failure, ToBoolean(QString::fromLatin1(text)));
        QCOMPARE(BooleanText(true), QStringLiteral("True"));
        // The defaults, read from an empty store: a number comes back as its decimal text.
        SettingsStore& store = *m_platform->settings;
        QCOMPARE(ReadSetting(store, setting::Option1), QStringLiteral("1"));
        QCOMPARE(ReadSetting(store, setting::Option2), QStringLiteral("0"));
        QCOMPARE(ReadSetting(store, setting::Extension), QStringLiteral("doc"));
        QCOMPARE(ReadSetting(store, setting::LastFolder), QString());
    }

    void writesReachTheFileAtOnce()
    {
        WriteSetting(*m_platform->settings, setting::Extension, QStringLiteral("txt"));
        // Another store on the same file, as the next start of the program would open it.
        const auto reopened = makeIniSettingsStore(m_platform->settingsFile());
        QCOMPARE(reopened->value(setting::Extension.key),
                 std::optional<QString>(QStringLiteral("txt")));
    }

    void optionsAndFolderWriteThrough()
    {
        option(2)->click();
        QCOMPARE(stored(setting::Option1.key), QStringLiteral("False"));
        QCOMPARE(stored(setting::Option2.key), QStringLiteral("True"));
        option(1)->click();
        QCOMPARE(stored(setting::Option1.key), QStringLiteral("True"));
        QCOMPARE(stored(setting::Option2.key), QStringLiteral("False"));

        text1()->clear();
        QTest::keyClicks(text1(), QStringLiteral("/tmp"));
        QCOMPARE(stored(setting::OutputFolder.key), QStringLiteral("/tmp"));
        text1()->clear();
        QCOMPARE(stored(setting::OutputFolder.key), QString());
    }

    void failedWritesKeepTheWindowState()
    {
        BrokenStore broken;
        Form1 form(m_platform->services(broken));
        auto* filtered = form.findChild<QRadioButton*>(QStringLiteral("Option2"));
        filtered->click();
        form.findChild<QLineEdit*>(QStringLiteral("Text1"))->setText(QStringLiteral("/srv/out/"));
        QVERIFY(filtered->isChecked());
        QCOMPARE(form.findChild<QLineEdit*>(QStringLiteral("Text1"))->text(),
                 QStringLiteral("/srv/out/"));
    }

    // The extension prompt as the desktop's input box shows it: its two lines apart.
    void extensionPromptShowsItsLines()
    {
        QtPrompts desktop;
        Form1 form(Platform(desktop, *m_platform->settings));
        QString shown;
        QTimer::singleShot(0, &form, [&] {
            auto* box = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
            QVERIFY(box);
            shown = box->labelText();
            box->reject();
        });
        form.findChild<QPushButton*>(QStringLiteral("PushButton4"))->click();
        QCOMPARE(shown, QStringLiteral("Enter file extension to load:\n\n(* for all files, txt for "
                                       "all txt files, doc for all doc files, etc.)"));
    }

    void outputFolderPicker()
    {
        m_platform->settings->setValue(setting::LastFolderDot.key, QStringLiteral("/srv"));
        m_platform->prompts.folderAnswers = {QStringLiteral("/srv/work/"), QStringLiteral("/"),
                                             QString()};
        auto* browse = m_form->findChild<QPushButton*>(QStringLiteral("PushButton7"));
        browse->click();
        QCOMPARE(m_platform->prompts.folderPicks.first().title,
                 QStringLiteral("Please select folder:"));
        QCOMPARE(m_platform->prompts.folderPicks.first().initialFolder, QStringLiteral("/srv"));
        QCOMPARE(text1()->text(), test::native(QStringLiteral("/srv/work/")));
        QCOMPARE(stored(setting::LastFolderDot.key), test::native(QStringLiteral("/srv/work")));
        QCOMPARE(stored(setting::OutputFolder.key), test::native(QStringLiteral("/srv/work/")));

        browse->click(); // the root keeps its single separator
        QCOMPARE(m_platform->prompts.folderPicks[1].initialFolder,
                 test::native(QStringLiteral("/srv/work")));
        QCOMPARE(text1()->text(), test::native(QStringLiteral("/")));
        QCOMPARE(stored(setting::LastFolderDot.key), test::native(QStringLiteral("/")));

        browse->click(); // cancelled: nothing changes
        QCOMPARE(text1()->text(), test::native(QStringLiteral("/")));
        QCOMPARE(stored(setting::LastFolderDot.key), test::native(QStringLiteral("/")));
        QVERIFY(m_platform->prompts.messages.isEmpty());
    }

    void openFileDialog()
    {
        auto& prompts = m_platform->prompts;
        prompts.fileAnswers = {
            {at("/docs/a.doc")},
            {at("/docs/b.doc"), at("/docs/a.doc")},
            {at("/x.doc"), at("/y.doc")},
            {at("/docs/c.doc"), at("/srv/d.doc"), at("/e.doc")},
            {},
        };
        auto* add = m_form->findChild<QPushButton*>(QStringLiteral("PushButton1"));
        for (int i = 0; i < 5; ++i)
            add->click();
        QCOMPARE(rows(), test::native(QStringList{
                             at("/docs/a.doc"), at("/docs/b.doc"), at("/docs/a.doc"), at("/x.doc"),
                             at("/y.doc"), at("/docs/c.doc"), at("/srv/d.doc"), at("/e.doc")}));
        const OpenFilesRequest& request = prompts.fileDialogs.first();
        QCOMPARE(request.title, QStringLiteral("Add File(s) - Hold Ctrl to select multiple files"));
        QCOMPARE(request.filters, (QStringList{QStringLiteral("Word Documents (*.do*)"),
                                               QStringLiteral("All Files (*.*)")}));
        QCOMPARE(request.selectedFilter, QStringLiteral("Word Documents (*.do*)"));
        QVERIFY(prompts.messages.isEmpty());
    }

    void resultInItsClassicForm()
    {
        QCOMPARE(OpenFileResult({}), QString());
        QCOMPARE(OpenFileResult({at("/a b/c.doc")}), test::native(at("/a b/c.doc")));
        QCOMPARE(OpenFileResult({at("/d/a.doc"), at("/d/b.doc")}),
                 test::native(at("/d")) + QChar(0) + QStringLiteral("a.doc") + QChar(0) +
                     QStringLiteral("b.doc"));
        QCOMPARE(OpenFileResult({at("/a.doc"), at("/b.doc")}),
                 test::native(at("/")) + QChar(0) + QStringLiteral("a.doc") + QChar(0) +
                     QStringLiteral("b.doc"));
        QCOMPARE(OpenFileResult({at("/d/a.doc"), at("/e/a.doc")}),
                 QChar(0) + test::native(at("/d/a.doc")) + QChar(0) + test::native(at("/e/a.doc")));
    }

    void tooManyFiles()
    {
        QStringList many;
        for (int i = 0; i < 1200; ++i) // 1200 names of 25 characters: over 30000
            many << QStringLiteral("/docs/report-%1-final.docx").arg(i, 6, 10, QLatin1Char('0'));
        m_platform->prompts.fileAnswers = {many};
        m_form->findChild<QPushButton*>(QStringLiteral("PushButton1"))->click();
        QCOMPARE(m_form->documents().DocumentCount(), 0);
        QCOMPARE(m_platform->prompts.messages.size(), 1);
        const MessageRequest& box = m_platform->prompts.messages.first();
        QCOMPARE(box.text, QStringLiteral("You've selected too many files to add.\r\rPlease try "
                                          "adding via the \"Add All\" button."));
        QCOMPARE(box.title, QStringLiteral("Docuflume"));
        QCOMPARE(box.icon, MessageIcon::None);
    }

private:
    // A path from the root of the drive the dialogs name (none on POSIX).
    static QString at(const char* path)
    {
        return QDir::rootPath().chopped(1) + QLatin1String(path);
    }
    QString stored(const QString& key) const
    {
        return m_platform->settings->value(key).value_or(QStringLiteral("<none>"));
    }
    QRadioButton* option(int n) const
    {
        return m_form->findChild<QRadioButton*>(QStringLiteral("Option%1").arg(n));
    }
    QLineEdit* text1() const { return m_form->findChild<QLineEdit*>(QStringLiteral("Text1")); }
};

QTEST_MAIN(TestOptionsAndDialogs)
#include "tst_optionsanddialogs.moc"
