// The word processor as a whole: the start-up test, the running-instance test and its
// warning, and the export of one document, against the recording stand-in.

#include "convert/ExportDocument.h"
#include "convert/WordInstance.h"
#include "shell/Failure.h"
#include "support/RecordingAutomation.h"
#include "support/RecordingPrompts.h"
#include "support/TestFiles.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <filesystem>

using namespace docuflume;
using docuflume::test::RecordingAutomation;
using docuflume::test::RecordingPrompts;

namespace {

const QString kTitle = QStringLiteral("Docuflume");

const QString kNotInstalled = QStringLiteral(
    "Error 842001. A normal instance of Word could not be created.\r\n\r\n"
    "1. Please make sure Word is installed on this computer.\r\n\r\n"
    "2. Please open Word normally and make sure a blank document opens immediately without any "
    "interrupting window (such as an Word file recovery window).\r\n\r\n"
    "3. Please make sure that when you double-click on a DOC or DOCX file that Word opens "
    "normally without any interrupting messages.\r\n\r\n"
    "4. All versions of Word are supported by this software except for the rare Word Starter and "
    "Student editions.");

std::optional<int> normal()
{
    return HtmlNormal;
}

} // namespace

class TestWordInstance : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void installedWordIsStartedAndQuit()
    {
        RecordingAutomation word;
        RecordingPrompts prompts;
        QVERIFY(CheckWordInstalled(&word, prompts, nullptr, kTitle));
        QCOMPARE(word.calls, (QStringList{QStringLiteral("create"), QStringLiteral("quit")}));
        QCOMPARE(word.liveInstances, 0);
        QVERIFY(prompts.messages.isEmpty());

        // A quit that fails is not the start-up test's business.
        RecordingAutomation stubborn;
        stubborn.failAt(QStringLiteral("quit"));
        QVERIFY(CheckWordInstalled(&stubborn, prompts, nullptr, kTitle));
        QVERIFY(prompts.messages.isEmpty());
    }

    void missingWordIsExplained()
    {
        RecordingAutomation word;
        word.missing = true;
        RecordingPrompts prompts;
        QVERIFY(!CheckWordInstalled(&word, prompts, nullptr, kTitle));
        QVERIFY(!CheckWordInstalled(nullptr, prompts, nullptr, kTitle));
        QCOMPARE(prompts.messages.size(), 2);
        for (const MessageRequest& box : prompts.messages) {
            QCOMPARE(box.text, kNotInstalled);
            QCOMPARE(box.title, kTitle);
            QCOMPARE(box.icon, MessageIcon::None);
            QCOMPARE(box.buttons, MessageButtons::Ok);
        }
        QVERIFY(!word.calls.contains(QStringLiteral("quit")));
    }

    void runningWordIsFoundByItsExactName()
    {
        RecordingAutomation word;
        QVERIFY(!IsWordRunning(&word));
        QVERIFY(!IsWordRunning(nullptr));
        word.runningName = QStringLiteral("microsoft word");
        QVERIFY(!IsWordRunning(&word));
        word.runningName = QStringLiteral("Microsoft Word");
        QVERIFY(IsWordRunning(&word));
        word.failAt(QStringLiteral("name"), 3);
        QVERIFY(!IsWordRunning(&word));
        // The user's own instance is looked at, never quit.
        QVERIFY(!word.calls.contains(QStringLiteral("quit")));
        QVERIFY(!word.calls.contains(QStringLiteral("create")));
    }

    void warningAsksAndHonoursTheAnswer()
    {
        RecordingAutomation word;
        RecordingPrompts prompts;
        QVERIFY(!WarnIfWordOpen(&word, prompts, nullptr, kTitle));
        QVERIFY(prompts.messages.isEmpty());

        word.runningName = QStringLiteral("Microsoft Word");
        prompts.messageAnswers = {MessageAnswer::Yes, MessageAnswer::No};
        QVERIFY(!WarnIfWordOpen(&word, prompts, nullptr, kTitle));
        QVERIFY(WarnIfWordOpen(&word, prompts, nullptr, kTitle));
        QCOMPARE(prompts.messages.size(), 2);
        const MessageRequest& box = prompts.messages.first();
        QCOMPARE(box.text,
                 QStringLiteral("Word may be open. It is recommended that you close Word "
                                "first. Use Ctrl+Alt+Del > Task Manager > WINWORD.EXE "
                                "if necessary.\r\n\r\nWould you like to proceed anyway?"));
        QCOMPARE(box.title, kTitle);
        QCOMPARE(box.icon, MessageIcon::None);
        QCOMPARE(box.buttons, MessageButtons::YesNo);
    }

    void exportMakesItsCallsInOrder()
    {
        RecordingAutomation word;
        QStringList whenRead;
        ExportDocument(
            &word,
            [&] {
                whenRead = word.calls;
                return std::optional<int>(HtmlFiltered);
            },
            QStringLiteral("/docs/a.doc"), QStringLiteral("/out/a.htm"));
        QCOMPARE(word.calls,
                 (QStringList{QStringLiteral("create"), QStringLiteral("open /docs/a.doc"),
                              QStringLiteral("saveAs /out/a.htm 10"), QStringLiteral("quit")}));
        // The flavour is read after the document is open, just before the save.
        QCOMPARE(whenRead.size(), 2);
        QCOMPARE(word.liveInstances, 0);

        const QList<NamedArgument> arguments = word.saves.first().arguments;
        const QStringList names = {QStringLiteral("fileName"),
                                   QStringLiteral("FileFormat"),
                                   QStringLiteral("LockComments"),
                                   QStringLiteral("Password"),
                                   QStringLiteral("AddToRecentFiles"),
                                   QStringLiteral("WritePassword"),
                                   QStringLiteral("ReadOnlyRecommended"),
                                   QStringLiteral("EmbedTrueTypeFonts"),
                                   QStringLiteral("SaveNativePictureFormat"),
                                   QStringLiteral("SaveFormsData"),
                                   QStringLiteral("SaveAsAOCELetter")};
        QCOMPARE(arguments.size(), names.size());
        const QVariantList values = {QStringLiteral("/out/a.htm"),
                                     10,
                                     false,
                                     QString(),
                                     true,
                                     QString(),
                                     false,
                                     false,
                                     false,
                                     false,
                                     false};
        for (int i = 0; i < names.size(); ++i) {
            QCOMPARE(arguments[i].name, names[i]);
            QCOMPARE(arguments[i].value, values[i]);
        }
        QCOMPARE(arguments[1].value.typeId(), QMetaType::Int);
    }

    void noFlavourNoSave()
    {
        RecordingAutomation word;
        ExportDocument(
            &word, [] { return std::optional<int>(); }, QStringLiteral("/docs/a.doc"),
            QStringLiteral("/out/a.htm"));
        QCOMPARE(word.calls,
                 (QStringList{QStringLiteral("create"), QStringLiteral("open /docs/a.doc"),
                              QStringLiteral("quit")}));
    }

    void failuresStillEndTheInstance_data()
    {
        QTest::addColumn<QString>("failing");
        QTest::addColumn<QStringList>("calls");
        QTest::newRow("create") << "create" << QStringList{QStringLiteral("create")};
        QTest::newRow("open") << "open"
                              << QStringList{QStringLiteral("create"),
                                             QStringLiteral("open /a.doc"), QStringLiteral("quit")};
        QTest::newRow("saveAs") << "saveAs"
                                << QStringList{
                                       QStringLiteral("create"), QStringLiteral("open /a.doc"),
                                       QStringLiteral("saveAs /a.htm 8"), QStringLiteral("quit")};
        QTest::newRow("quit") << "quit"
                              << QStringList{
                                     QStringLiteral("create"), QStringLiteral("open /a.doc"),
                                     QStringLiteral("saveAs /a.htm 8"), QStringLiteral("quit")};
    }

    void failuresStillEndTheInstance()
    {
        QFETCH(QString, failing);
        QFETCH(QStringList, calls);
        RecordingAutomation word;
        word.failAt(failing);
        QVERIFY_THROWS_EXCEPTION(Failure, ExportDocument(&word, normal, QStringLiteral("/a.doc"),
                                                         QStringLiteral("/a.htm")));
        QCOMPARE(word.calls, calls);
    }

    void neverOverwritesTheDocumentItself()
    {
        QTemporaryDir dir;
        const QString document =
            test::touchFile(dir.filePath(QStringLiteral("page.htm")), "<p>the user's page</p>");
#ifdef Q_OS_WIN
        // (A link there is a shortcut file; a second name of the file is a hard link.)
        std::error_code error;
        std::filesystem::create_hard_link(document.toStdWString(),
                                          dir.filePath(QStringLiteral("alias.htm")).toStdWString(),
                                          error);
        QVERIFY2(!error, error.message().c_str());
#else
        QVERIFY(QFile::link(document, dir.filePath(QStringLiteral("alias.htm"))));
#endif

        RecordingAutomation word;
        QVERIFY_THROWS_EXCEPTION(Failure, ExportDocument(&word, normal, document, document));
        QVERIFY_THROWS_EXCEPTION(
            Failure,
            ExportDocument(&word, normal, document, dir.filePath(QStringLiteral("alias.htm"))));
        QVERIFY(word.calls.isEmpty());
        // A different output name is fine.
        ExportDocument(&word, normal, document, dir.filePath(QStringLiteral("other.htm")));
        QCOMPARE(word.saves.size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestWordInstance)
#include "tst_wordinstance.moc"
