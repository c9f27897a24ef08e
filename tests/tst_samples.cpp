// The sample documents: added once however often the button is pressed, and their folder
// opened on request.

#include "doclist/DocumentList.h"
#include "support/TestFiles.h"
#include "support/TestPlatform.h"
#include "ui/Form1.h"

#include <QDir>
#include <QPushButton>
#include <QTest>

using namespace docuflume;

class TestSamples : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void addedOnceAskedEveryTime()
    {
        test::TestPlatform platform;
        const QString program = platform.folder.filePath(QStringLiteral("program"));
        for (const char* name : {"a.doc", "b.rtf", ".hidden.docx", "sub/not-taken.doc"})
            test::touchFile(program + QStringLiteral("/Samples/") + QLatin1String(name));
        Platform services = platform.services();
        services.programFolder = program;
        Form1 form(services);
        // A row that differs only in case is not the same document.
        form.documents().AddDocument(test::native(program + QStringLiteral("/Samples/A.doc")));
        platform.prompts.messageAnswers = {MessageAnswer::No, MessageAnswer::Yes};

        auto* button = form.findChild<QPushButton*>(QStringLiteral("PushButton5"));
        button->click();
        QCOMPARE(form.documents().DocumentCount(), 4);
        button->click();
        QCOMPARE(form.documents().DocumentCount(), 4);

        QSet<QString> rows;
        for (int i = 2; i <= 4; ++i)
            rows << form.documents().DocumentText(i);
        QCOMPARE(rows,
                 (QSet<QString>{test::native(program + QStringLiteral("/Samples/a.doc")),
                                test::native(program + QStringLiteral("/Samples/b.rtf")),
                                test::native(program + QStringLiteral("/Samples/.hidden.docx"))}));
        QCOMPARE(platform.prompts.messages.size(), 2);
        const MessageRequest& question = platform.prompts.messages.first();
        QCOMPARE(question.text,
                 QStringLiteral("Would you like this software to open the folder where these "
                                "sample files are stored (so that you can view them before "
                                "working with them)?"));
        QCOMPARE(question.buttons, MessageButtons::YesNo);
        QCOMPARE(question.title, QStringLiteral("Docuflume"));
        QCOMPARE(platform.prompts.openedUrls,
                 QList<QUrl>{QUrl::fromLocalFile(program + QStringLiteral("/Samples/"))});
    }

    // Installed, the samples live in the data folder; a Samples folder beside the program
    // (the build tree, Windows) comes first.
    void besideTheProgramThenTheDataFolder()
    {
        test::TestPlatform platform;
        const QString program = platform.folder.filePath(QStringLiteral("bin"));
        const QString data = platform.folder.filePath(QStringLiteral("share/docuflume"));
        QVERIFY(QDir().mkpath(program));
        test::touchFile(data + QStringLiteral("/Samples/installed.doc"));
        Platform services = platform.services();
        services.programFolder = program;
        services.dataFolder = data;
        platform.prompts.messageAnswers = {MessageAnswer::No, MessageAnswer::No};
        {
            Form1 form(services);
            form.PushButton5_Click();
            QCOMPARE(form.documents().DocumentCount(), 1);
            QCOMPARE(form.documents().DocumentText(1),
                     test::native(data + QStringLiteral("/Samples/installed.doc")));
        }
        test::touchFile(program + QStringLiteral("/Samples/beside.doc"));
        Form1 form(services);
        form.PushButton5_Click();
        QCOMPARE(form.documents().DocumentCount(), 1);
        QCOMPARE(form.documents().DocumentText(1),
                 test::native(program + QStringLiteral("/Samples/beside.doc")));
    }

    void shippedSamples()
    {
        // The build puts the project's samples beside the program.
        const QDir samples(QStringLiteral(DOCUFLUME_PROGRAM_DIR "/Samples"));
        const QStringList files = samples.entryList(QDir::Files);
        QVERIFY2(files.size() >= 4 && files.size() <= 6, qPrintable(files.join(u' ')));
        for (const char* suffix : {".doc", ".docx", ".rtf"})
            QVERIFY(!files.filter(QLatin1String(suffix)).isEmpty());
    }
};

QTEST_MAIN(TestSamples)
#include "tst_samples.moc"
