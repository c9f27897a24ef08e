// The conversion without a window, against the recording word processor, on real folders:
// what it converts and names, how shards share one job, the report and the exit status.

#include "app/ConvertCommand.h"
#include "shell/Failure.h"
#include "support/RecordingAutomation.h"
#include "support/TestFiles.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace docuflume;

class TestConvertCommand : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        // Namesakes in two folders, kinds that are not Word's, Office's own "~" files.
        for (const char* file :
             {"docs/b/report.docx", "docs/a/report.doc", "docs/a/notes.txt", "docs/a/~$report.doc",
              "docs/c/deeper/form.DOTX", "docs/c/table.rtf", "loose/letter.odt"})
            test::touchFile(path(file));
    }

    // A folder's whole tree and a file named alone, sorted, once each, with the window's
    // names; the shards of one job convert each document once, under the same names.
    void shardsShareOneJob()
    {
        const QStringList given = {path("docs"), path("loose/letter.odt"), path("docs/c")};
        test::RecordingAutomation single;
        QCOMPARE(run(given, 0, 1, single), 0);
        const QStringList expected = test::native(
            {path("docs/a/report.doc"), path("docs/b/report.docx"), path("docs/c/deeper/form.DOTX"),
             path("docs/c/table.rtf"), path("loose/letter.odt")});
        QCOMPARE(single.opened, expected);
        QCOMPARE(pages(single), test::native({path("out/report.htm"), path("out/report (2).htm"),
                                              path("out/form.htm"), path("out/table.htm"),
                                              path("out/letter.htm")}));
        QCOMPARE(single.plans.size(), expected.size()); // converted ahead as the window's run

        QStringList opened;
        QStringList written;
        for (int shard : {0, 1}) {
            test::RecordingAutomation word;
            QCOMPARE(run(given, shard, 2, word), 0);
            for (int k = 0; k < word.opened.size(); ++k)
                QCOMPARE(expected.indexOf(word.opened[k]) % 2, shard);
            opened += word.opened;
            written += pages(word);
        }
        QCOMPARE(QSet<QString>(opened.begin(), opened.end()),
                 QSet<QString>(expected.begin(), expected.end()));
        QCOMPARE(opened.size(), expected.size());
        const QStringList all = pages(single);
        QCOMPARE(QSet<QString>(written.begin(), written.end()),
                 QSet<QString>(all.begin(), all.end()));
    }

    // One row per document, as it goes; a failure with its class and its words, quoted as
    // RFC 4180 quotes; status 1 when any failed.
    void reportOfARunWithFailures()
    {
        test::RecordingAutomation word;
        word.failAt(QStringLiteral("saveAs"), 2);
        word.onOpen = [](const QString& source) {
            if (source.endsWith(QLatin1String("table.rtf")))
                throw Failure(Failure::AutomationError,
                              QStringLiteral("table.rtf is protected, \"really\",\nby a password."),
                              Failure::Cause::NeedsPassword);
        };
        const QString report = path("report.csv");
        QCOMPARE(run({path("docs")}, 0, 1, word, report), 1);
        QFile file(report);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray text = file.readAll();
        QVERIFY(text.startsWith("source,page,status,class,failure,seconds,words\r\n"));
        QVERIFY(text.contains(
            ",failed,password,\"table.rtf is protected, \"\"really\"\",\nby a password.\","));
        QVERIFY(text.contains(",failed,other,saveAs failed (call 2),"));
        QCOMPARE(text.count(",converted,,,"), 2);
        QCOMPARE(text.count("\r\n"), 5); // the header and a row per document
        QVERIFY(
            m_progress.contains(QStringLiteral("[4/4] table.rtf: failed: table.rtf is protected")));
        QVERIFY(m_progress.endsWith(QStringLiteral("2 converted, 2 failed, 0 not converted\n")));
    }

    // A signal in the middle of a document: the run ends at once, with the report of what
    // was done and the status of the signal; the stopped document is not called a failure.
    void interruptedRun()
    {
        test::RecordingAutomation word;
        int signal = 0;
        word.onOpen = [&](const QString& source) {
            if (source.endsWith(QLatin1String("form.DOTX"))) {
                signal = 15;
                throw Failure(Failure::AutomationError, QStringLiteral("stopped"),
                              Failure::Cause::OfficeStopped);
            }
        };
        const QString report = path("report.csv");
        QCOMPARE(run({path("docs")}, 0, 1, word, report, [&] { return signal; }), 143);
        QFile file(report);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll().count("\r\n"), 3); // the header and the two done
        QVERIFY(!word.inBatch);
    }

private:
    int run(
        const QStringList& given, int shard, int shards, test::RecordingAutomation& word,
        const QString& report = QString(),
        const std::function<int()>& interrupted = [] { return 0; })
    {
        ConvertRequest request;
        request.paths = test::native(given);
        request.output = test::native(path("out"));
        request.report = report;
        request.shard = shard;
        request.shards = shards;
        word.capacity = 2;
        QBuffer progress;
        progress.open(QIODevice::WriteOnly);
        const int status = RunConversion(
            request, &word, [](const QString&) { return std::optional<qsizetype>(7); }, progress,
            false, interrupted);
        m_progress = QString::fromLocal8Bit(progress.data());
        return status;
    }

    static QStringList pages(const test::RecordingAutomation& word)
    {
        QStringList names;
        for (const auto& save : word.saves)
            names << save.fileName();
        return names;
    }

    QString path(const char* relative) const
    {
        return m_dir->filePath(QString::fromUtf8(relative));
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_progress;
};

QTEST_GUILESS_MAIN(TestConvertCommand)
#include "tst_convertcommand.moc"
