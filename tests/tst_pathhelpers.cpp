// The pure path functions, each row run once with "\" and once with "/" as separator.

#include "convert/PageNames.h"
#include "shell/PathHelpers.h"

#include <QDir>
#include <QTest>

using namespace docuflume;

namespace {

QString withSeparator(QString text, QChar separator)
{
    return text.replace(u'\\', separator);
}

void addForBothSeparators(const char* name, const QString& input, const QString& expected)
{
    for (const QChar separator : {QChar(u'\\'), QChar(u'/')}) {
        QTest::addRow("%s [%c]", name, char(separator.unicode()))
            << separator << withSeparator(input, separator) << withSeparator(expected, separator);
    }
}

} // namespace

class TestPathHelpers : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void getFileName_data()
    {
        QTest::addColumn<QChar>("separator");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expected");
        addForBothSeparators("document", QStringLiteral("C:\\Docs\\report.docx"),
                             QStringLiteral("report.docx"));
        addForBothSeparators("trailing separator", QStringLiteral("C:\\Docs\\"), QString());
        addForBothSeparators("no separator", QStringLiteral("report.doc"),
                             QStringLiteral("report.doc"));
        addForBothSeparators("network path", QStringLiteral("\\\\server\\share\\a.doc"),
                             QStringLiteral("a.doc"));
        addForBothSeparators("empty", QString(), QString());
    }

    void getFileName()
    {
        QFETCH(QChar, separator);
        QFETCH(QString, path);
        QFETCH(QString, expected);
        QCOMPARE(GetFileName(path, separator), expected);
    }

    void collapseDoubleBackslashes_data()
    {
        QTest::addColumn<QChar>("separator");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expected");
        addForBothSeparators("doubled after the drive", QStringLiteral("C:\\\\Docs\\a.doc"),
                             QStringLiteral("C:\\Docs\\a.doc"));
        addForBothSeparators("network path keeps its pair",
                             QStringLiteral("\\\\server\\share\\\\a.doc"),
                             QStringLiteral("\\\\server\\share\\a.doc"));
        addForBothSeparators("three leading become two", QStringLiteral("\\\\\\server\\a.doc"),
                             QStringLiteral("\\\\server\\a.doc"));
        addForBothSeparators("one leading becomes two", QStringLiteral("\\x.doc"),
                             QStringLiteral("\\\\x.doc"));
        addForBothSeparators("a run of three becomes two", QStringLiteral("C:\\Docs\\\\\\a.doc"),
                             QStringLiteral("C:\\Docs\\\\a.doc"));
        addForBothSeparators("a run of four becomes two", QStringLiteral("C:\\Docs\\\\\\\\a.doc"),
                             QStringLiteral("C:\\Docs\\\\a.doc"));
        addForBothSeparators("clean path unchanged", QStringLiteral("C:\\Docs\\a.doc"),
                             QStringLiteral("C:\\Docs\\a.doc"));
        addForBothSeparators("root join", QStringLiteral("D:\\\\a.doc"),
                             QStringLiteral("D:\\a.doc"));
        addForBothSeparators("lone separator", QStringLiteral("\\"), QStringLiteral("\\\\"));
        addForBothSeparators("empty", QString(), QString());
        addForBothSeparators("trailing pair", QStringLiteral("D:\\Out\\\\"),
                             QStringLiteral("D:\\Out\\"));
    }

    void collapseDoubleBackslashes()
    {
        QFETCH(QChar, separator);
        QFETCH(QString, path);
        QFETCH(QString, expected);
        QCOMPARE(CollapseDoubleBackslashes(path, separator, LeadingSeparators::NetworkPair),
                 expected);
    }

    void collapseOnARootedPlatform_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expected");
        // Where a path starting with the separator starts at the root, a leading run is the
        // root, not a network path: "//tmp" would read as the host "tmp" in a file URL.
        QTest::newRow("absolute path unchanged") << "/home/ana/a.doc"
                                                 << "/home/ana/a.doc";
        QTest::newRow("output folder join") << "/tmp/out//a.htm"
                                            << "/tmp/out/a.htm";
        QTest::newRow("root join") << "//a.htm"
                                   << "/a.htm";
        QTest::newRow("three leading") << "///srv/a.doc"
                                       << "/srv/a.doc";
        QTest::newRow("inner runs as ever") << "/a///b////c"
                                            << "/a//b//c";
        QTest::newRow("lone separator") << "/"
                                        << "/";
        QTest::newRow("relative") << "a//b"
                                  << "a/b";
    }

    void collapseOnARootedPlatform()
    {
        QFETCH(QString, path);
        QFETCH(QString, expected);
        QCOMPARE(CollapseDoubleBackslashes(path, u'/', LeadingSeparators::Root), expected);
    }

    void collapseLeavesTheOtherSeparatorAlone()
    {
        // Only the platform's separator is collapsed; the other character is a plain one.
        QCOMPARE(
            CollapseDoubleBackslashes(QStringLiteral("a\\\\b//c"), u'/', LeadingSeparators::Root),
            QStringLiteral("a\\\\b/c"));
        QCOMPARE(CollapseDoubleBackslashes(QStringLiteral("a\\\\b//c"), u'\\'),
                 QStringLiteral("a\\b//c"));
    }

    // The pages of one run, in the list's order, where the folder's names do or do not
    // ignore case.
    void pageNames_data()
    {
        QTest::addColumn<bool>("ignoresCase");
        QTest::addColumn<QStringList>("paths");
        QTest::addColumn<QStringList>("pages");
        QTest::newRow("namesakes") << false << QStringList{"/o/r.htm", "/o/r.htm", "/o/r.htm"}
                                   << QStringList{"/o/r.htm", "/o/r (2).htm", "/o/r (3).htm"};
        QTest::newRow("a name like a renamed one")
            << false << QStringList{"/o/r (2).htm", "/o/r.htm", "/o/r.htm"}
            << QStringList{"/o/r (2).htm", "/o/r.htm", "/o/r (3).htm"};
        QTest::newRow("case kept apart")
            << false << QStringList{"/o/R.htm", "/o/r.htm"} << QStringList{"/o/R.htm", "/o/r.htm"};
        QTest::newRow("case ignored") << true << QStringList{"/o/Ä.htm", "/o/ä.htm", "/o/ä.HTM"}
                                      << QStringList{"/o/Ä.htm", "/o/ä (2).htm", "/o/ä (3).HTM"};
        QTest::newRow("one folder spelled twice")
            << false << QStringList{"/o/r.htm", "/o//r.htm", "/p/r.htm"}
            << QStringList{"/o/r.htm", "/o//r (2).htm", "/p/r.htm"};
        QTest::newRow("only an extension")
            << false << QStringList{"/o/.htm", "/o/.htm"} << QStringList{"/o/.htm", "/o/ (2).htm"};
    }

    void pageNames()
    {
        QFETCH(bool, ignoresCase);
        QFETCH(QStringList, paths);
        QFETCH(QStringList, pages);
        PageNames names([&](const QString&) { return ignoresCase; });
        QStringList claimed;
        for (const QString& path : paths)
            claimed << names.claim(QDir::toNativeSeparators(path));
        for (QString& page : pages)
            page = QDir::toNativeSeparators(page);
        QCOMPARE(claimed, pages);
    }

    void wildcard_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<bool>("matches");
        QTest::newRow("extension") << "report.doc"
                                   << "*.doc" << true;
        QTest::newRow("case ignored") << "REPORT.DoC"
                                      << "*.doc" << true;
        QTest::newRow("longer extension") << "report.docx"
                                          << "*.doc" << false;
        QTest::newRow("doc* finds docx") << "report.docx"
                                         << "*.doc*" << true;
        QTest::newRow("doc* finds docm") << "a.DOCM"
                                         << "*.doc*" << true;
        QTest::newRow("doc* finds doc") << "a.doc"
                                        << "*.doc*" << true;
        QTest::newRow("doc* skips rtf") << "a.rtf"
                                        << "*.doc*" << false;
        QTest::newRow("*.* without a dot") << "README"
                                           << "*.*" << true;
        QTest::newRow("*.* hidden") << ".hidden"
                                    << "*.*" << true;
        QTest::newRow("star alone") << "anything at all"
                                    << "*" << true;
        QTest::newRow("question mark") << "a1.doc"
                                       << "a?.doc" << true;
        QTest::newRow("question mark needs a character") << "a.doc"
                                                         << "a?.doc" << false;
        QTest::newRow("*. + empty extension keeps the dot") << "a.doc"
                                                            << "*." << false;
        QTest::newRow("name.* matches the bare name") << "notes"
                                                      << "notes.*" << true;
        QTest::newRow("backtracking") << "a.doc.bak.doc"
                                      << "*.doc" << true;
        QTest::newRow("last part must match") << "a.doc.bak"
                                              << "*.doc" << false;
        QTest::newRow("non-Latin, case folded")
            << QStringLiteral("ПЛАН.doc") << QStringLiteral("план.*") << true;
        QTest::newRow("brackets are plain") << "[a].doc"
                                            << "[a].doc" << true;
    }

    void wildcard()
    {
        QFETCH(QString, name);
        QFETCH(QString, pattern);
        QFETCH(bool, matches);
        QCOMPARE(MatchesWildcard(name, pattern), matches);
    }
};

QTEST_GUILESS_MAIN(TestPathHelpers)
#include "tst_pathhelpers.moc"
