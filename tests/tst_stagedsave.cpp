// Pages saved through a staging folder on real temporary folders: the check of a saved
// page, the move into place with its pictures and links, and what a killed run left.

#include "convert/pages/HtmlPage.h"
#include "convert/pages/SavedPageCheck.h"
#include "convert/pages/StagedSave.h"
#include "shell/Failure.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <memory>
#include <sys/wait.h>
#include <unistd.h>

using namespace docuflume;
using docuflume::test::touchFile;

namespace {

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

} // namespace

class TestStagedSave : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_dir.reset(new QTemporaryDir);
        QVERIFY(m_dir->isValid());
    }

    // A page as the word processor left it in its staging folder ("out" holds what the
    // output folder had already).
    void savedPageCheck_data()
    {
        QTest::addColumn<QByteArray>("page");
        QTest::addColumn<QStringList>("written");
        QTest::addColumn<QStringList>("inOutputFolder");
        QTest::addColumn<QString>("problem"); // empty: sound
        const QByteArray head = "<html><head><meta http-equiv=\"content-type\" "
                                "content=\"text/html; charset=utf-8\"/></head><body>";
        QTest::newRow("sound, with its pictures")
            << head + "<p>Grüße</p><img src=\"a_htm_1.png\"/><object data=\"a_htm_2.png\">"
                      "</object><table background=\"a_htm_3.gif\"></table></body></html>"
            << QStringList{"a_htm_1.png", "a_htm_2.png", "a_htm_3.gif"} << QStringList()
            << QString();
        // (The document's own links to other places, as the page names them.)
        QTest::newRow("links elsewhere are not looked for")
            << head + "<img src=\"/srv/pictures/linked.png\"/><img src=\"http://x.example/a.png\"/>"
                      "<img src=\"data:image/png;base64,AAAA\"/><img src=\"file://host/c.png\"/>"
            << QStringList() << QStringList() << QString();
        QTest::newRow("a folder below, with nothing in it")
            << head + "<img src=\"media/b.png\"/>" << QStringList() << QStringList()
            << QStringLiteral("media/b.png");
        QTest::newRow("a linked picture beside the output")
            << head + "<img src=\"logo%20big.png\"/>" << QStringList()
            << QStringList{"logo big.png"} << QString();
        QTest::newRow("picture not written")
            << head + "<p>x</p><img src=\"a_htm_1.png\"/><span style=\"background: "
                      "url(&quot;a_htm_9.jpg&quot;)\"></span>"
            << QStringList{"a_htm_1.png"} << QStringList() << QStringLiteral("a_htm_9.jpg");
        // The document's own text is never a reference, however much it reads like one.
        QTest::newRow("text that reads like references")
            << head + "<p>Enter the URL(s) of your sites below.</p><p>In Python: data = "
                      "'abc'</p><p>&lt;img src=\"x.png\"&gt; background='y.gif' "
                      "url(z.png)</p><pre>body { background: url(w.png) }</pre>"
                      "<p style=\"font-family: 'url(v.png)'\">/* url(u.png) */</p>"
            << QStringList() << QStringList() << QString();
        QTest::newRow("references as a browser decodes them")
            << head + "<img src=\"a&#95;htm&#x5f;1.png\"/><img src=\"b%5fhtm.png?x=1#top\"/>"
                      "<link rel=\"Stylesheet\" href=\"s.css\"/><link rel=\"next\" "
                      "href=\"n.css\"/><a href=\"other.htm\">x</a>"
                      "<style>/* url(c1.png) */ p { background: url( \"c&amp;2.png\" ) } "
                      "q { background: u\\72l(c\\33 .png) }</style>"
                      "<span style=\"background: url(&quot;d.jpg&quot;)\"></span>"
                      "<embed src=\"./e.svg\"/><script src=\"f.js\"></script>"
            << QStringList()
            << QStringList()
            // (Entities mean nothing inside a style element.)
            << QStringLiteral(
                   "a_htm_1.png, b_htm.png, s.css, c&amp;2.png, c3.png, d.jpg, e.svg, f.js");
        QTest::newRow("Filtered: XHTML with its declaration")
            << QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE html PUBLIC "
                          "\"-//W3C//DTD XHTML 1.1//EN\" "
                          "\"http://www.w3.org/TR/xhtml11/DTD/xhtml11.dtd\">\n<html "
                          "xmlns=\"http://www.w3.org/1999/xhtml\"><head><title/></head><body>"
                          "<p>if (a &lt; b) { x = \"y.png\"; }</p><p><img "
                          "src=\"a_htm_1.png\"/></p></body></html>")
            << QStringList{"a_htm_1.png"} << QStringList() << QString();
        QTest::newRow("empty page")
            << QByteArray() << QStringList() << QStringList() << QStringLiteral("is empty");
        QTest::newRow("not valid UTF-8")
            << head + "<p>Gr\xfc\xdf"
                      "e</p>"
            << QStringList() << QStringList() << QStringLiteral("not valid utf-8");
        QTest::newRow("valid in the Latin-1 it declares")
            << QByteArray("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><p>Gr\xfc\xdf"
                          "e</p>")
            << QStringList() << QStringList() << QString();
    }

    void savedPageCheck()
    {
        QFETCH(QByteArray, page);
        QFETCH(QStringList, written);
        QFETCH(QStringList, inOutputFolder);
        QFETCH(QString, problem);
        QVERIFY(QDir().mkpath(path("staging")));
        touchFile(path("staging/a.htm"), page);
        for (const QString& name : written)
            touchFile(path(QStringLiteral("staging/") + name));
        for (const QString& name : inOutputFolder)
            touchFile(path(name));
        const auto found = CheckSavedPage(path("staging"), QStringLiteral("a.htm"), m_dir->path());
        if (problem.isEmpty())
            QVERIFY2(!found, qPrintable(found.value_or(QString())));
        else
            QVERIFY2(found && found->contains(problem, Qt::CaseInsensitive),
                     qPrintable(found.value_or(QStringLiteral("no problem found"))));
        QVERIFY(CheckSavedPage(path("staging"), QStringLiteral("missing.htm"), m_dir->path())
                    ->contains(QStringLiteral("not written")));
    }

    // The same pages saved through the staging folder: a sound one replaces the earlier
    // output with its pictures; any other leaves the folder exactly as it was.
    void stagedSave_data() { savedPageCheck_data(); }

    void stagedSave()
    {
        QFETCH(QByteArray, page);
        QFETCH(QStringList, written);
        QFETCH(QStringList, inOutputFolder);
        QFETCH(QString, problem);
        touchFile(path("a.htm"), "earlier");
        for (const QString& name : inOutputFolder)
            touchFile(path(name));
        const QStringList before = QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden);
        const auto write = [&](const QString& stagedPage) {
            QCOMPARE(QFileInfo(stagedPage).fileName(), QStringLiteral("a.htm"));
            QVERIFY(QFileInfo(stagedPage).absolutePath() != m_dir->path());
            touchFile(stagedPage, page);
            for (const QString& name : written)
                touchFile(QFileInfo(stagedPage).absolutePath() + u'/' + name);
        };
        const auto folderNow = [&] {
            return QDir(m_dir->path())
                .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        };
        if (problem.isEmpty()) {
            SaveStaged(path("a.htm"), QStringLiteral("Writer"), write);
            QCOMPARE(readFile(path("a.htm")), page);
            QStringList expected = before + written;
            expected.sort();
            QCOMPARE(folderNow(), expected);
            return;
        }
        try {
            SaveStaged(path("a.htm"), QStringLiteral("Writer"), write);
            QFAIL("an unsound page was saved");
        } catch (const Failure& failure) {
            QVERIFY2(failure.description().startsWith(QStringLiteral("Writer did not save a.htm")),
                     qPrintable(failure.description()));
            QVERIFY(failure.description().contains(problem, Qt::CaseInsensitive));
        }
        QCOMPARE(readFile(path("a.htm")), QByteArray("earlier"));
        QCOMPARE(folderNow(), before);
    }

    // The links of a page that the writer made from its staging folder, as they read once the
    // page is in place ({staging}, {folder} and {elsewhere} stand for the file urls of the
    // staging folder, the output folder and a folder outside it).
    void stagedSaveRelinks_data()
    {
        QTest::addColumn<QByteArray>("page");
        QTest::addColumn<QStringList>("urls");
        const QByteArray head = "<!DOCTYPE html><html><head><meta charset=\"utf-8\"></head><body>";
        QTest::newRow("pictures beside the page stay")
            << head + "<img src=\"a_htm_1.png\"/><img src=\"http://x.example/b.png\"/>"
            << QStringList{"a_htm_1.png", "http://x.example/b.png"};
        QTest::newRow("a linked picture outside the output folder")
            << head + "<img src=\"../../{elsewhere-name}/red%20one.png\"/>"
            << QStringList{"{elsewhere}/red%20one.png"};
        QTest::newRow("a linked picture in the output folder")
            << head + "<p style=\"background: url(../sub/logo.png)\">x</p><img "
                      "src=\"{folder}/logo.png\"/>"
            << QStringList{"sub/logo.png", "logo.png"};
        QTest::newRow("a picture named absolutely in the staging folder")
            << head + "<img src=\"{staging}/a_htm_1.png\"/>" << QStringList{"a_htm_1.png"};
        QTest::newRow("XHTML stays XHTML")
            << QByteArray("<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.1//EN\" "
                          "\"http://www.w3.org/TR/xhtml11/DTD/xhtml11.dtd\">\n<html><head><meta "
                          "http-equiv=\"content-type\" content=\"text/html; charset=utf-8\"/>"
                          "</head><body><p>Grüße<br/><img src=\"../x.png\"/></p></body></html>")
            << QStringList{"x.png"};
    }

    void stagedSaveRelinks()
    {
        QFETCH(QByteArray, page);
        QFETCH(QStringList, urls);
        QTemporaryDir elsewhere;
        const auto url = [](const QString& folder) {
            return QUrl::fromLocalFile(folder).toEncoded();
        };
        const auto filled = [&](QByteArray text, const QString& staging) {
            return text.replace("{elsewhere-name}", QFileInfo(elsewhere.path()).fileName().toUtf8())
                .replace("{elsewhere}", url(elsewhere.path()))
                .replace("{folder}", url(m_dir->path()))
                .replace("{staging}", url(staging));
        };
        touchFile(elsewhere.filePath(QStringLiteral("red one.png")));
        touchFile(path("logo.png"));
        touchFile(path("sub/logo.png"));
        touchFile(path("x.png"));
        // The output folder's parent is the temporary folders' own, as elsewhere's is.
        QCOMPARE(QFileInfo(elsewhere.path()).absolutePath(),
                 QFileInfo(m_dir->path()).absolutePath());
        SaveStaged(path("a.htm"), QStringLiteral("Writer"), [&](const QString& stagedPage) {
            const QString staging = QFileInfo(stagedPage).absolutePath();
            touchFile(stagedPage, filled(page, staging));
            touchFile(staging + QStringLiteral("/a_htm_1.png"));
        });
        const QByteArray saved = readFile(path("a.htm"));
        QStringList expected;
        for (const QString& one : std::as_const(urls))
            expected << QString::fromUtf8(filled(one.toUtf8(), QString()));
        QCOMPARE(ReadHtmlPage(saved).urls, expected);
        // Nothing but the links changes.
        QCOMPARE(ReadHtmlPage(saved).visibleText, ReadHtmlPage(page).visibleText);
        if (page.contains("XHTML")) {
            QVERIFY(saved.contains("<br/>") && !saved.contains("<br>"));
            QVERIFY(QString::fromUtf8(saved).contains(QStringLiteral("Grüße")));
        }
    }

    // A writer that fails, or a folder that is not there: the failure as it came, nothing left.
    void stagedSaveThatFails()
    {
        touchFile(path("a.htm"), "earlier");
        try {
            SaveStaged(path("a.htm"), QStringLiteral("Writer"), [](const QString& stagedPage) {
                touchFile(stagedPage, "half");
                throw Failure(Failure::AutomationError, QStringLiteral("stopped while saving"));
            });
            QFAIL("a failed save succeeded");
        } catch (const Failure& failure) {
            QCOMPARE(failure.description(), QStringLiteral("stopped while saving"));
        }
        QCOMPARE(
            QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
            QStringList{QStringLiteral("a.htm")});
        QCOMPARE(readFile(path("a.htm")), QByteArray("earlier"));
        try {
            SaveStaged(path("gone/a.htm"), QStringLiteral("Writer"),
                       [](const QString&) { QFAIL("written into a folder that is not there"); });
            QFAIL("saved into a folder that is not there");
        } catch (const Failure& failure) {
            QCOMPARE(failure.number(), int(Failure::PathNotFound));
        }
    }

    // A sound page that shows fewer than a fifth of at least five words the document holds,
    // by either count, lost its text: nothing is moved, and the earlier output stays.
    void stagedSaveOfLostText_data()
    {
        QTest::addColumn<int>("loaded"); // -1: not counted
        QTest::addColumn<int>("stored");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("failure"); // empty: saved
        QTest::newRow("under a fifth of the loaded words")
            << 10 << -1 << "one"
            << "Writer lost the text of a.docx: the document holds 10 words, "
               "the page 1.";
        QTest::newRow("a fifth") << 10 << -1 << "one two" << QString();
        QTest::newRow("fewer than five words") << -1 << 4 << "" << QString();
        QTest::newRow("five words, none shown")
            << 0 << 5 << ""
            << "Writer lost the text of a.docx: the document holds 5 words, the "
               "page 0.";
        QTest::newRow("either count")
            << 3 << 60 << "a b c d e f g h i j k"
            << "Writer lost the text of a.docx: the document holds 60 words, the page 11.";
        // Unicode white space parts words as it does on the page: three words, not one.
        QTest::newRow("no-break and ideographic spaces")
            << 15 << -1 << "one&nbsp;two\u3000three" << QString();
        QTest::newRow("not counted") << -1 << -1 << "" << QString();
        // Read whole, past the parser's default limit of 256 nested elements.
        QTest::newRow("text nested 300 deep")
            << 100 << -1
            << QStringLiteral("<div>").repeated(300) + QStringLiteral("one two three") +
                   QStringLiteral("</div>").repeated(300)
            << "Writer lost the text of a.docx: the document holds 100 words, the page 3.";
    }

    void stagedSaveOfLostText()
    {
        QFETCH(int, loaded);
        QFETCH(int, stored);
        QFETCH(QString, shown);
        QFETCH(QString, failure);
        touchFile(path("a.htm"), "earlier");
        const auto count = [](int words) {
            return words < 0 ? std::nullopt : std::optional<qsizetype>(words);
        };
        const DocumentWords words{QStringLiteral("a.docx"), count(loaded), count(stored)};
        const QByteArray page = "<html><head><meta charset=\"utf-8\"></head><body><p>" +
                                shown.toUtf8() + "</p></body></html>";
        QString failed;
        try {
            SaveStaged(
                path("a.htm"), QStringLiteral("Writer"),
                [&](const QString& stagedPage) { touchFile(stagedPage, page); }, nullptr, &words);
        } catch (const Failure& error) {
            failed = error.description();
        }
        QCOMPARE(failed, failure);
        QCOMPARE(readFile(path("a.htm")), failure.isEmpty() ? page : QByteArray("earlier"));
        QCOMPARE(
            QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
            QStringList{QStringLiteral("a.htm")});
    }

    // What a run that ended without tidying up (killed) left goes when the next run opens
    // the ledger: the staging it recorded (or, in an earlier version's ledger, named like its
    // staging in a folder it noted), and its pipes' sockets. A live run's staging stays (its
    // ledger is locked), and so does anything not named like staging. Nothing is removed
    // through a link, whoever planted it: at the next start, or when a live run ends.
    void leftStagingIsRemoved()
    {
        const QString root = path("root");
        const QString dead = QStringLiteral("0123456789abcdef");
        const QString older = QStringLiteral("fedcba9876543210");
        for (const QString& folder :
             {root + QStringLiteral("/runs"), path("one"), path("two"), path("victim")})
            QVERIFY(QDir().mkpath(folder));
        touchFile(path("victim/precious.doc"));
        const auto plant = [&](const QString& link) { QVERIFY(QFile::link(path("victim"), link)); };
        std::optional<StagingLedger> live(std::in_place, root);
        const auto staging = MakeStagingFolder(path("one"), &*live);
        QVERIFY(staging);
        const QString stagingName = QFileInfo(*staging).fileName();
        const QStringList kept{stagingName, QStringLiteral(".docuflume-notes"),
                               QStringLiteral("docuflume-%1-1").arg(dead),
                               QStringLiteral(".docuflume-%1-77").arg(dead)};
        for (const QString& name : kept)
            touchFile(path(QStringLiteral("one/") + name + QStringLiteral("/a.htm")));
        // A run killed while the live one ran (its ledger is not locked), and one of an
        // earlier version that noted folders alone.
        const QString recorded = path("one/.docuflume-%1-aaaaaaaaaaaa").arg(dead);
        const QString linked = path("two/.docuflume-%1-bbbbbbbbbbbb").arg(dead);
        const QString linkedOlder = path("two/.docuflume-%1-cccccccccccc").arg(older);
        touchFile(root + QStringLiteral("/runs/") + dead + QStringLiteral(".lock"),
                  (recorded + u'\n' + linked + u'\n' + QStringLiteral("relative/path\n")).toUtf8());
        touchFile(root + QStringLiteral("/runs/") + older + QStringLiteral(".lock"),
                  (path("two") + u'\n').toUtf8());
        // A ledger no run of ours makes, whose name once read as a pattern.
        touchFile(root + QStringLiteral("/runs/*.lock"), (path("one") + u'\n').toUtf8());
        touchFile(recorded + QStringLiteral("/a.htm"));
        plant(linked);
        plant(linkedOlder);
        const QString socket =
            QStringLiteral("/tmp/OSL_PIPE_%1_docuflume-%2-1").arg(::getuid()).arg(dead);
        touchFile(socket);

        std::optional<StagingLedger> next(std::in_place, root);
        QStringList expected = kept;
        expected.sort();
        QCOMPARE(
            QDir(path("one")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
            expected);
        QCOMPARE(
            QDir(path("two")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
            QStringList());
        QVERIFY(QFile::exists(path("victim/precious.doc")));
        QVERIFY(!QFile::exists(socket));
        QVERIFY(!QFile::exists(root + QStringLiteral("/runs/") + dead + QStringLiteral(".lock")));

        // A live run whose staging was swapped for a link ends: the link goes, not the files.
        QVERIFY(QDir(*staging).removeRecursively());
        plant(*staging);
        live.reset();
        QVERIFY(!QFileInfo::exists(*staging) && !QFileInfo(*staging).isSymLink());
        QVERIFY(QFile::exists(path("victim/precious.doc")));

        // Names are drawn at random and never repeat.
        QSet<QString> names;
        for (int k = 0; k < 50; ++k) {
            const auto made = MakeStagingFolder(path("two"), &*next);
            QVERIFY(made && !names.contains(*made));
            names.insert(*made);
        }
    }

    // A long run's ledger stays as short as the staging that lives, and still names all of
    // it when the run is killed: the next run removes what it left.
    void longRunKeepsItsLedgerShort()
    {
        const QString root = path("root");
        const QString dead = QStringLiteral("0123456789abcdef");
        QVERIFY(QDir().mkpath(path("out")) && QDir().mkpath(root + QStringLiteral("/runs")));
        // What a run killed while it wrote its shorter ledger left.
        touchFile(root + QStringLiteral("/runs/") + dead + QStringLiteral(".next"));
        const pid_t child = ::fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            auto* run = new StagingLedger(root); // never ended: the run is killed
            for (int k = 0; k < 400; ++k) {
                const auto made = MakeStagingFolder(path("out"), run);
                if (!made)
                    ::_exit(2);
                if (k != 3 && k != 397)
                    QDir(*made).removeRecursively();
            }
            QFile ledger(root + QStringLiteral("/runs/") + run->runId() + QStringLiteral(".lock"));
            ::_exit(ledger.open(QIODevice::ReadOnly) && ledger.readAll().count('\n') < 200 ? 0 : 3);
        }
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), 0);
        QCOMPARE(
            QDir(path("out")).entryList(QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot).size(),
            2);

        StagingLedger next(root);
        QCOMPARE(
            QDir(path("out")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
            QStringList());
        QCOMPARE(QDir(root + QStringLiteral("/runs")).entryList(QDir::Files | QDir::Hidden),
                 QStringList{next.runId() + QStringLiteral(".lock")});
    }

private:
    QString path(const char* name) const { return m_dir->filePath(QString::fromUtf8(name)); }
    QString path(const QString& name) const { return m_dir->filePath(name); }

    std::unique_ptr<QTemporaryDir> m_dir;
};

QTEST_GUILESS_MAIN(TestStagedSave)
#include "tst_stagedsave.moc"
