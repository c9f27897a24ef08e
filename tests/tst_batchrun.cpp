// The Start button on the real window, with the recording stand-in for the word processor.

#include "doclist/DocumentList.h"
#include "shell/PathHelpers.h"
#include "support/TestFiles.h"
#include "support/WindowTest.h"
#include "ui/Form1.h"

#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace docuflume;
using test::native;

namespace {

const QString kDone = QStringLiteral("Done.");
const QString kNoFiles = QStringLiteral("No files added.");
const QString kNoFolder = QStringLiteral("Folder does not exist. Please select another folder.");

} // namespace

class TestBatchRun : public test::WindowTest
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        makeWindow();
        m_output = native(m_platform->folder.filePath(QStringLiteral("out")));
        QVERIFY(QDir().mkpath(m_output));
        text1()->setText(m_output);
        // The whole suite runs a second time with a stand-in that asks to hear what comes
        // next, as an engine converting ahead does: nothing it sees may change.
        automation().capacity = qEnvironmentVariableIntValue("DOCUFLUME_TEST_AHEAD");
    }

    void cleanup() { dropWindow(); }

    void emptyListComesFirst()
    {
        text1()->setText(m_platform->folder.filePath(QStringLiteral("missing")));
        m_form->PushButton2_Click();
        QCOMPARE(messageTexts(), QStringList{kNoFiles});
        const MessageRequest& box = m_platform->prompts.messages.first();
        QCOMPARE(box.title, QStringLiteral("Docuflume"));
        QCOMPARE(box.icon, MessageIcon::None);
        QCOMPARE(box.buttons, MessageButtons::Ok);
        QVERIFY(automation().calls.isEmpty());
        QVERIFY(!m_form->isConverting());
    }

    void missingOrEmptyFolder()
    {
        add({"/docs/a.doc"});
        text1()->setText(m_platform->folder.filePath(QStringLiteral("missing")));
        m_form->PushButton2_Click();
        text1()->clear();
        m_form->PushButton2_Click();
        QCOMPARE(messageTexts(), (QStringList{kNoFolder, kNoFolder}));
        // The word processor is not even asked whether it runs.
        QVERIFY(automation().calls.isEmpty());
        QCOMPARE(text1()->text(), QString());
        QVERIFY(!m_form->isConverting());
    }

    void runningWordAnsweredNo()
    {
        add({"/docs/a.doc", "/docs/b.doc"});
        automation().runningName = QStringLiteral("Microsoft Word");
        m_platform->prompts.messageAnswers = {MessageAnswer::No};
        m_form->PushButton2_Click();
        QCOMPARE(m_platform->prompts.messages.size(), 1);
        QCOMPARE(m_platform->prompts.messages.first().buttons, MessageButtons::YesNo);
        QVERIFY(!automation().calls.contains(QStringLiteral("create")));
        QVERIFY(!automation().calls.contains(QStringLiteral("quit")));
        QCOMPARE(bar()->value(), 0);
        QCOMPARE(m_form->progressText(), QStringLiteral("Progress Bar"));
        QCOMPARE(m_form->MousePointer(), 0);
        QVERIFY(!m_form->isConverting());
    }

    void runningWordAnsweredYes()
    {
        add({"/docs/a.doc", "/docs/b.doc"});
        automation().runningName = QStringLiteral("Microsoft Word");
        m_platform->prompts.messageAnswers = {MessageAnswer::Yes};
        m_form->PushButton2_Click();
        QCOMPARE(automation().opened, (QStringList{native("/docs/a.doc"), native("/docs/b.doc")}));
        QCOMPARE(messageTexts().last(), kDone);
    }

    void progressThroughFourDocuments()
    {
        add({"/docs/one.doc", "/docs/two.docx", "/docs/three.rtf", "/docs/four.doc"});
        QList<int> positions;
        QStringList texts;
        QList<int> pointers;
        QList<bool> batchOpen;
        automation().onOpen = [&](const QString&) {
            positions << bar()->value();
            texts << m_form->progressText();
            pointers << m_form->MousePointer();
            batchOpen << automation().inBatch;
        };
        QString textAtDone;
        int positionAtDone = -1;
        int pointerAtDone = -1;
        bool batchOpenAtDone = true;
        m_platform->prompts.onMessage = [&](const MessageRequest&) {
            textAtDone = m_form->progressText();
            positionAtDone = bar()->value();
            pointerAtDone = m_form->MousePointer();
            batchOpenAtDone = automation().inBatch;
        };

        m_form->PushButton2_Click();

        QCOMPARE(positions, (QList<int>{25, 50, 75, 100}));
        QCOMPARE(texts, (QStringList{QStringLiteral("Processing: one.doc"),
                                     QStringLiteral("Processing: two.docx"),
                                     QStringLiteral("Processing: three.rtf"),
                                     QStringLiteral("Processing: four.doc")}));
        QCOMPARE(pointers, (QList<int>{11, 11, 11, 11}));
        // The engine may ready instances ahead during the run, and keeps none past it.
        QCOMPARE(batchOpen, (QList<bool>{true, true, true, true}));
        QVERIFY(!batchOpenAtDone);
        QCOMPARE(messageTexts(), QStringList{kDone});
        QCOMPARE(positionAtDone, 0);
        QCOMPARE(textAtDone, QStringLiteral("Progress Bar"));
        QCOMPARE(pointerAtDone, 0);
        QCOMPARE(automation().liveInstances, 0);
        QVERIFY(!m_form->isConverting());
    }

    void failedThirdExportCostsOneBox()
    {
        add({"/d/1.doc", "/d/2.doc", "/d/3.doc", "/d/4.doc", "/d/5.doc"});
        automation().failAt(QStringLiteral("open"), 3);
        m_form->PushButton2_Click();

        QCOMPARE(m_platform->prompts.messages.size(), 2);
        const MessageRequest& box = m_platform->prompts.messages.first();
        QCOMPARE(box.title, QStringLiteral("Application Error"));
        QVERIFY(box.text.contains(QStringLiteral("\r\n") +
                                  test::handlerPlace("PushButton2_Click", 144) + u'\r'));
        QCOMPARE(messageTexts().last(), kDone);
        QCOMPARE(savedNames(), (QStringList{QStringLiteral("1.htm"), QStringLiteral("2.htm"),
                                            QStringLiteral("4.htm"), QStringLiteral("5.htm")}));
        // The failed document's instance was ended as well.
        QCOMPARE(automation().calls.count(QStringLiteral("create")), 5);
        QCOMPARE(automation().calls.count(QStringLiteral("quit")), 5);
        QVERIFY(!m_form->isConverting());
    }

    void secondPressDuringARunDoesNothing()
    {
        add({"/d/1.doc", "/d/2.doc", "/d/3.doc"});
        auto* start = m_form->findChild<QPushButton*>(QStringLiteral("PushButton2"));
        // The press lands in the run's first yield.
        QTimer::singleShot(0, start, [start] { start->click(); });
        start->click();
        QCOMPARE(automation().calls.count(QStringLiteral("create")), 3);
        QCOMPARE(messageTexts(), QStringList{kDone});
        QVERIFY(!m_form->isConverting());
        // And a press after the run starts a new one.
        start->click();
        QCOMPARE(automation().calls.count(QStringLiteral("create")), 6);
    }

    void outputNames_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("name");
        QTest::newRow("extension") << "/Docs/report.docx"
                                   << "report.htm";
        QTest::newRow("dots kept") << "/Docs/minutes.2021.final.doc"
                                   << "minutes.2021.final.htm";
        QTest::newRow("empty piece") << "/Docs/a..doc"
                                     << "a..htm";
        QTest::newRow("only an extension") << "/Docs/.doc"
                                           << ".htm";
        QTest::newRow("no dot") << "/Docs/README"
                                << "README.htm";
        QTest::newRow("dot in folder only") << "/Docs.old/notes"
                                            << "notes.htm";
    }

    void outputNames()
    {
        QFETCH(QString, source);
        QFETCH(QString, name);
        m_form->documents().AddDocument(native(source));
        m_form->PushButton2_Click();
        text1()->setText(m_output + kSeparator);
        m_form->PushButton2_Click();
        QCOMPARE(automation().saves.size(), 2);
        for (const auto& save : automation().saves)
            QCOMPARE(save.fileName(), m_output + kSeparator + name);
    }

    // Namesakes of one run each get a page of their own, the same on every run.
    void rootFolderAndNamesakes()
    {
        add({"/A/report.docx", "/B/report.doc", "/A/Report.rtf", "/B/report (2).doc"});
        const QString root = native(QDir::rootPath());
        text1()->setText(root);
        m_form->PushButton2_Click();
        m_form->PushButton2_Click();
        QStringList saved;
        for (const auto& save : automation().saves)
            saved << save.fileName();
#ifdef Q_OS_WIN
        // Names there ignore case: "Report" is a namesake too.
        const auto names = {"report.htm", "report (2).htm", "Report (3).htm", "report (2) (2).htm"};
#else
        const auto names = {"report.htm", "report (2).htm", "Report.htm", "report (2) (2).htm"};
#endif
        QStringList once;
        for (const char* name : names)
            once << root + QLatin1String(name);
        QCOMPARE(saved, once + once);
    }

    void flavourReadForEveryDocument()
    {
        add({"/d/1.doc", "/d/2.doc", "/d/3.doc"});
        auto* normal = m_form->findChild<QRadioButton*>(QStringLiteral("Option1"));
        auto* filtered = m_form->findChild<QRadioButton*>(QStringLiteral("Option2"));
        QVERIFY(normal->isChecked());
        // The user switches to "Filtered" while the second document opens: the flavour is
        // read after the open, for that document and those after it.
        automation().onOpen = [&](const QString& path) {
            if (path == native("/d/2.doc"))
                filtered->setChecked(true);
        };
        m_form->PushButton2_Click();
        QCOMPARE(formats(), (QList<int>{8, 10, 10}));

        // With neither option on, documents are opened and closed without a save.
        automation().onOpen = nullptr;
        automation().saves.clear();
        filtered->setAutoExclusive(false);
        filtered->setChecked(false);
        QVERIFY(!normal->isChecked() && !filtered->isChecked());
        m_form->PushButton2_Click();
        QVERIFY(automation().saves.isEmpty());
        QCOMPARE(messageTexts().last(), kDone);
        QCOMPARE(m_platform->prompts.messages.size(), 2);
    }

    void entriesRemovedWhileTheRunYields()
    {
        add({"/d/1.doc", "/d/2.doc", "/d/3.doc", "/d/4.doc"});
        automation().onOpen = [&](const QString& path) {
            if (path == native("/d/1.doc"))
                m_form->documents().RemoveDocument(4);
            if (path == native("/d/2.doc"))
                m_form->documents().Clear();
        };
        m_form->PushButton2_Click();
        QCOMPARE(automation().opened, (QStringList{native("/d/1.doc"), native("/d/2.doc")}));
        QCOMPARE(messageTexts(), QStringList{kDone});
        QCOMPARE(bar()->value(), 0);
        QVERIFY(!m_form->isConverting());
    }

    // An engine converting ahead hears, before each export, the entry at the run's turn and
    // those after it, as the list stands then, with the very page and flavour the run
    // then saves them under.
    void plansNameWhatTheRunConverts()
    {
        automation().capacity = 3;
        add({"/Docs/report.docx", "/Docs/minutes.2021.final.doc", "/Docs/README", "/Docs/.doc",
             "/A/report.docx"});
        text1()->setText(m_output + kSeparator);
        automation().onOpen = [&](const QString& path) {
            if (path == native("/Docs/report.docx"))
                m_form->documents().RemoveDocument(4);
        };
        m_form->PushButton2_Click();

        const auto& saves = automation().saves;
        const auto& plans = automation().plans;
        QCOMPARE(saves.size(), 4);
        QCOMPARE(plans.size(), 4);
        QVERIFY(automation().plannedInBatch);
        for (int k = 0; k < plans.size(); ++k) {
            QCOMPARE(plans[k].size(), qMin(3, int(saves.size()) - k));
            for (int j = 0; j < plans[k].size(); ++j) {
                const PlannedExport made{automation().opened[k + j], saves[k + j].fileName(),
                                         saves[k + j].fileFormat()};
                QCOMPARE(plans[k][j].source, made.source);
                QCOMPARE(plans[k][j].outputPath, made.outputPath);
                QCOMPARE(plans[k][j].fileFormat, made.fileFormat);
            }
        }
    }

    // Closing the window in the middle of a run ends the batch (and so whatever the engine
    // converts ahead) before the program ends.
    void closingMidRunEndsTheBatchFirst()
    {
        struct Ending
        {
            int count = 0;
            bool batchOpen = true;
        };
        auto ending = std::make_shared<Ending>(); // the window outlives this function
        test::RecordingAutomation* word = &automation();
        startWindow(m_platform->folder.path(), [ending, word] {
            ++ending->count;
            ending->batchOpen = word->inBatch;
        });
        text1()->setText(m_output);
        add({"/d/1.doc", "/d/2.doc"});
        m_form->show();
        // The close lands in the second document's yield.
        automation().onOpen = [this](const QString& path) {
            if (path == native("/d/1.doc"))
                QTimer::singleShot(0, m_form.get(), [this] { m_form->close(); });
        };
        m_form->PushButton2_Click();
        QCOMPARE(ending->count, 1);
        QVERIFY(!ending->batchOpen);
    }

    // An engine that cannot go on says so once, and the run ends there.
    void engineThatCannotGoOnStopsTheRun()
    {
        add({"/d/1.doc", "/d/2.doc", "/d/3.doc"});
        automation().stopsBatch = true;
        m_form->PushButton2_Click();
        QCOMPARE(automation().calls,
                 (QStringList{QStringLiteral("attach"), QStringLiteral("create")}));
        QCOMPARE(m_platform->prompts.messages.size(), 2);
        QVERIFY(m_platform->prompts.messages[0].text.startsWith(
            QStringLiteral("The conversion was stopped.")));
        QCOMPARE(messageTexts().last(), kDone);
        QCOMPARE(bar()->value(), 0);
        QVERIFY(!m_form->isConverting());
    }

    void missingWordReportsEachDocument()
    {
        add({"/d/1.doc", "/d/2.doc"});
        automation().missing = true;
        m_form->PushButton2_Click();
        QCOMPARE(m_platform->prompts.messages.size(), 3);
        QVERIFY(m_platform->prompts.messages[0].text.contains(QStringLiteral("at line 144\r")));
        QVERIFY(m_platform->prompts.messages[1].text.contains(QStringLiteral("at line 144\r")));
        QCOMPARE(messageTexts().last(), kDone);
    }

private:
    test::RecordingAutomation& automation()
    {
        return m_platform->automation;
    }
    QLineEdit* text1() const
    {
        return m_form->findChild<QLineEdit*>(QStringLiteral("Text1"));
    }
    QProgressBar* bar() const
    {
        return m_form->findChild<QProgressBar*>(QStringLiteral("ProgressBar1"));
    }

    void add(std::initializer_list<const char*> paths)
    {
        for (const char* path : paths)
            m_form->documents().AddDocument(native(QString::fromUtf8(path)));
    }

    QStringList messageTexts() const
    {
        QStringList texts;
        for (const MessageRequest& box : m_platform->prompts.messages)
            texts << box.text;
        return texts;
    }

    QStringList savedNames()
    {
        QStringList names;
        for (const auto& save : automation().saves)
            names << QFileInfo(save.fileName()).fileName();
        return names;
    }

    QList<int> formats()
    {
        QList<int> result;
        for (const auto& save : automation().saves)
            result << save.fileFormat();
        return result;
    }

    QString m_output;
};

QTEST_MAIN(TestBatchRun)
#include "tst_batchrun.moc"
