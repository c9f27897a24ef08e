// The real LibreOffice engine through ExportDocument: real documents in, real HTML out;
// damaged and protected documents fail without a hang; no office process is left over.

#include "convert/ExportDocument.h"
#include "convert/WordAutomation.h"
#include "convert/WordInstance.h"
#include "convert/libreoffice/LibreOfficeAutomation.h"
#include "convert/libreoffice/OfficeInstallation.h"
#include "convert/pages/HtmlPage.h"
#include "convert/pages/PackageWords.h"
#include "doclist/DocumentList.h"
#include "shell/Failure.h"
#include "shell/FileSystem.h"
#include "support/BrowserCheck.h"
#include "support/TestFiles.h"
#include "support/TestPlatform.h"
#include "ui/Form1.h"

#include <QLineEdit>
#include <QLoggingCategory>
#include <QPushButton>
#include <QRadioButton>

#include <QBuffer>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <libxml/HTMLparser.h>
#include <zip.h>

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <thread>

using namespace docuflume;
using docuflume::test::touchFile;

namespace {

const QString kCorpus = QStringLiteral(QT_TESTCASE_SOURCEDIR "/../../shared/corpus/dev");

// The corpus documents the engine refuses, and why. The command line writes a page for
// some of them all the same (the RTF code of a headerless RTF file, as plain text).
const QMap<QString, QString> kRefused = {
    {QStringLiteral("rc4cryptoapi_password.doc"), QStringLiteral("encrypted")},
    {QStringLiteral("example_password.docx"), QStringLiteral("encrypted")},
    {QStringLiteral("ecma376standard_password.docx"), QStringLiteral("encrypted")},
    {QStringLiteral("clusterfuzz-testcase-minimized-POIHWPFFuzzer-5440721166139392.doc"),
     QStringLiteral("damaged")},
    {QStringLiteral("clusterfuzz-testcase-minimized-POIXWPFFuzzer-5313273089884160.docx"),
     QStringLiteral("damaged")},
    {QStringLiteral("corrupted_main_document_part.docx"), QStringLiteral("damaged")},
    {QStringLiteral("image.rtf"),
     QStringLiteral("damaged: its picture's binary data is not binary (the command line cannot "
                    "open it either)")},
    {QStringLiteral("tables.rtf"),
     QStringLiteral("not a Word document: RTF without its header reads as plain text")},
};

// The words a reader sees on a page, with every number as "#".
QStringList visibleWords(const QByteArray& html)
{
    QString text = ReadHtmlPage(html).visibleText;
    text.replace(QChar(0xA0), u' ');
    // Fields (the time, page numbers) depend on when and how the page was made.
    static const QRegularExpression digit(QStringLiteral("\\d+"));
    text.replace(digit, QStringLiteral("#"));
    return text.simplified().split(u' ', Qt::SkipEmptyParts);
}

// A page of ours without what it adds to what the office shows: the comments' marks and
// their list at the end (the office keeps comments out of sight).
QByteArray withoutComments(const QByteArray& page)
{
    const auto ours = [](const xmlNode* node) {
        xmlChar* value = xmlGetProp(node, BAD_CAST "class");
        const bool found = value && (xmlStrEqual(value, BAD_CAST "msocomanchor") ||
                                     xmlStrEqual(value, BAD_CAST "msocomments"));
        xmlFree(value);
        return found;
    };
    const auto strip = [&](xmlNode* node, const auto& self) -> bool {
        bool removed = false;
        for (xmlNode* child = node; child;) {
            xmlNode* next = child->next;
            if (child->type == XML_ELEMENT_NODE && ours(child)) {
                xmlUnlinkNode(child);
                xmlFreeNode(child);
                removed = true;
            } else if (child->type == XML_ELEMENT_NODE) {
                removed = self(child->children, self) || removed;
            }
            child = next;
        }
        return removed;
    };
    return RewritePage(page, [&](xmlDoc* doc) { return strip(doc->children, strip); })
        .value_or(page);
}

// How many pictures a page shows from where it stands: the pictures it loads that are there
// (an embedded object's picture is a .gif in one flavour and a .png in the other).
qsizetype picturesThatLoad(const QString& pagePath)
{
    static const QStringList kinds = {QStringLiteral("png"), QStringLiteral("gif"),
                                      QStringLiteral("jpg"), QStringLiteral("jpeg"),
                                      QStringLiteral("svg"), QStringLiteral("bmp")};
    QFile file(pagePath);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    qsizetype found = 0;
    for (const QString& url : ReadHtmlPage(file.readAll()).urls) {
        const std::optional<LocalTarget> target = ResolveLocalUrl(url, pagePath);
        if (target && kinds.contains(QFileInfo(target->path).suffix().toLower()) &&
            QFileInfo(target->path).isFile())
            ++found;
    }
    return found;
}

// How many words the two pages do not share, counted with repeats.
int wordsNotShared(const QStringList& one, const QStringList& other)
{
    QHash<QString, int> balance;
    for (const QString& word : one)
        ++balance[word];
    for (const QString& word : other)
        --balance[word];
    int differing = 0;
    for (const int count : std::as_const(balance))
        differing += std::abs(count);
    return differing;
}

// Counts, while it lives, the instances the engine starts for a document's turn rather
// than ahead of it (its "instance ... ready" lines).
class TurnInstances
{
public:
    TurnInstances()
    {
        s_count = 0;
        QLoggingCategory::setFilterRules(QStringLiteral("docuflume.convert.debug=true"));
        s_previous = qInstallMessageHandler(handle);
    }
    ~TurnInstances()
    {
        qInstallMessageHandler(s_previous);
        QLoggingCategory::setFilterRules(QString());
    }
    int count() const { return s_count; }

private:
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& message)
    {
        if (type == QtDebugMsg && qstrcmp(context.category, "docuflume.convert") == 0) {
            if (message.startsWith(QLatin1String("instance ")) &&
                message.endsWith(QLatin1String("ready")))
                ++s_count;
            return;
        }
        s_previous(type, context, message);
    }
    static inline int s_count = 0;
    static inline QtMessageHandler s_previous = nullptr;
};

// Text of our own, in Latin and other scripts, for the documents the test makes.
const QString kOwnText = QStringLiteral("Docuflume lighthouse 4711");
const QString kOwnGreek = QStringLiteral("Καλημέρα κόσμε");

QString rtfEscaped(const QString& text)
{
    QString out;
    for (const QChar c : text) {
        if (c == u'\\' || c == u'{' || c == u'}')
            out += u'\\' + QString(c);
        else if (c.unicode() < 128)
            out += c;
        else // RTF's \u takes a signed 16-bit number, a surrogate pair as two
            out += QStringLiteral("\\u%1?").arg(int(qint16(c.unicode())));
    }
    return out;
}

// A Word package made here: `body` is the content of the main document's body, and each
// extra part is referred to from the main document by the id "extra<k>".
struct ExtraPart
{
    QString name; // below word/
    QString type; // its content type
    QString relation;
    QByteArray bytes;
    bool external = false; // a file outside the package: `name` is its URL
    QString stored = {};   // its name in the archive, below word/, where it is not `name`
};

void writeWordPackage(const QString& path, const QString& body, const QList<ExtraPart>& extras = {})
{
    const QString relations =
        QStringLiteral("http://schemas.openxmlformats.org/officeDocument/2006/relationships/");
    QString types =
        QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?><Types "
                       "xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
                       "<Default Extension=\"rels\" "
                       "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
                       "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
                       "<Override PartName=\"/word/document.xml\" ContentType=\"application/"
                       "vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml\"/>");
    QString documentRelations =
        QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?><Relationships "
                       "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">");
    QList<std::pair<QByteArray, QByteArray>> parts;
    for (qsizetype k = 0; k < extras.size(); ++k) {
        if (extras[k].relation.isEmpty()) { // a part another part refers to, or its relations
            if (!extras[k].type.isEmpty())
                types += QStringLiteral("<Override PartName=\"/word/%1\" ContentType=\"%2\"/>")
                             .arg(extras[k].name, extras[k].type);
            parts.append({"word/" + extras[k].name.toUtf8(), extras[k].bytes});
            continue;
        }
        if (extras[k].external) {
            documentRelations += QStringLiteral("<Relationship Id=\"extra%1\" Type=\"%2%3\" "
                                                "Target=\"%4\" TargetMode=\"External\"/>")
                                     .arg(k)
                                     .arg(relations, extras[k].relation, extras[k].name);
            continue;
        }
        types += QStringLiteral("<Override PartName=\"/word/%1\" ContentType=\"%2\"/>")
                     .arg(extras[k].name, extras[k].type);
        // (A relation given whole is one of Word's own, outside the standard's namespace.)
        documentRelations +=
            QStringLiteral("<Relationship Id=\"extra%1\" Type=\"%2%3\" Target=\"%4\"/>")
                .arg(k)
                .arg(extras[k].relation.contains(u':') ? QString() : relations, extras[k].relation,
                     extras[k].name);
        parts.append(
            {"word/" + (extras[k].stored.isEmpty() ? extras[k].name : extras[k].stored).toUtf8(),
             extras[k].bytes});
    }
    parts.append({"[Content_Types].xml", (types + QStringLiteral("</Types>")).toUtf8()});
    parts.append(
        {"_rels/.rels", "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Relationships "
                        "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                        "<Relationship Id=\"main\" Type=\"" +
                            relations.toUtf8() +
                            "officeDocument\" Target=\"word/document.xml\"/></Relationships>"});
    parts.append({"word/_rels/document.xml.rels",
                  (documentRelations + QStringLiteral("</Relationships>")).toUtf8()});
    parts.append(
        {"word/document.xml",
         ("<?xml version=\"1.0\" encoding=\"UTF-8\"?><w:document "
          "xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\" "
          "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\" "
          "xmlns:wp=\"http://schemas.openxmlformats.org/drawingml/2006/wordprocessingDrawing\" "
          "xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\" "
          "xmlns:pic=\"http://schemas.openxmlformats.org/drawingml/2006/picture\" "
          "xmlns:v=\"urn:schemas-microsoft-com:vml\" "
          "xmlns:o=\"urn:schemas-microsoft-com:office:office\" "
          "xmlns:w14=\"http://schemas.microsoft.com/office/word/2010/wordml\"><w:body>" +
          body + QStringLiteral("<w:sectPr/></w:body></w:document>"))
             .toUtf8()});
    int error = 0;
    zip_t* zip = zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    QVERIFY2(zip, qPrintable(path));
    for (const auto& [name, bytes] : std::as_const(parts)) {
        // (The bytes live until the archive is closed.)
        zip_source_t* source =
            zip_source_buffer(zip, bytes.constData(), zip_uint64_t(bytes.size()), 0);
        QVERIFY(source && zip_file_add(zip, name.constData(), source, ZIP_FL_ENC_UTF_8) >= 0);
    }
    QCOMPARE(zip_close(zip), 0);
}

// A paragraph holding one picture, the package's part extra0.
const QString kPictureParagraph =
    QStringLiteral("<w:p><w:r><w:drawing><wp:inline><wp:extent cx=\"457200\" cy=\"457200\"/>"
                   "<wp:docPr id=\"1\" name=\"red\"/><a:graphic><a:graphicData "
                   "uri=\"http://schemas.openxmlformats.org/drawingml/2006/picture\"><pic:pic>"
                   "<pic:nvPicPr><pic:cNvPr id=\"1\" name=\"red.png\"/><pic:cNvPicPr/>"
                   "</pic:nvPicPr><pic:blipFill><a:blip r:embed=\"extra0\"/><a:stretch>"
                   "<a:fillRect/></a:stretch></pic:blipFill><pic:spPr><a:xfrm><a:off x=\"0\" "
                   "y=\"0\"/><a:ext cx=\"457200\" cy=\"457200\"/></a:xfrm><a:prstGeom "
                   "prst=\"rect\"/></pic:spPr></pic:pic></a:graphicData></a:graphic>"
                   "</wp:inline></w:drawing></w:r></w:p>");

// The picture of kPictureParagraph, in the colour given.
ExtraPart redPicture(QColor colour = Qt::red)
{
    QBuffer png;
    QImage picture(16, 16, QImage::Format_RGB32);
    picture.fill(colour);
    picture.save(&png, "PNG");
    return {QStringLiteral("media/red.png"), QStringLiteral("image/png"), QStringLiteral("image"),
            png.data()};
}

// A document whose body is a chunk of HTML, which LibreOffice does not import.
const QString kHtmlChunkName = QStringLiteral("html-chunk.docx");
const ExtraPart kHtmlChunk{QStringLiteral("chunk.htm"), QStringLiteral("text/html"),
                           QStringLiteral("aFChunk"),
                           "<html><body><h1>Quarterly report</h1><p>Sales rose by four "
                           "percent in spring.</p></body></html>"};
const QString kChunkBody = QStringLiteral("<w:altChunk r:id=\"extra0\"/>");

// Lines that read like markup, code, CSS, urls, paths or entities, in many scripts: each
// must convert and show on the page exactly as written.
const QStringList kAwkwardLines = {
    QStringLiteral("Enter the URL(s) of your sites below."),
    QStringLiteral("In Python: data = 'abc'"),
    QStringLiteral("<img src=\"picture.png\" alt=\"not a picture\">"),
    QStringLiteral("<p style=\"background: url(a.png)\">not a paragraph</p>"),
    QStringLiteral("&amp; &lt; &gt; &quot; &#169; &nbsp; are written, not meant"),
    QStringLiteral("if (a < b && c > d) { return x->y[0]; }"),
    QStringLiteral("printf(\"%s\\n\", argv[1]); // src=\"main.c\""),
    QStringLiteral("body { background: url(\"pic.png\"); color: #ff0000; }"),
    QStringLiteral("@import url(style.css); /* url(hidden.png) */"),
    QStringLiteral("src=\"x.js\" data=\"y.bin\" background=\"z.gif\" href=\"w.css\""),
    QStringLiteral("https://example.org/path/page.html?q=1&r=2#part"),
    QStringLiteral("file:///home/user/Documents/report.docx"),
    QStringLiteral("C:\\Users\\Public\\Documents\\report.docx"),
    QStringLiteral("\\\\server\\share\\folder\\file.doc"),
    QStringLiteral("/usr/share/doc/docuflume/README and ../up/picture.png"),
    QStringLiteral("<![CDATA[ not data ]]> <!-- not a comment --> <?php echo 1; ?>"),
    QStringLiteral("<script>alert(\"no\")</script><style>p{}</style>"),
    QStringLiteral("שלום עולם, זהו טקסט בעברית"),
    QStringLiteral("مرحبا بالعالم، هذا نص عربي"),
    QStringLiteral("漢字とひらがなとカタカナ、中文字符，한국어 문장"),
    QStringLiteral("Emoji: 🚀 🎉 👩‍💻 ✓ ★"),
    QStringLiteral("Ελληνικά, Кириллица, Türkçe, Ærøskøbing"),
    QStringLiteral("{braces} [brackets] (parens) $dollar €euro £pound ~tilde^ | pipe `tick`"),
    QStringLiteral("Supercalifragilistic") + QStringLiteral("expialidocious").repeated(20),
};

// A document of those lines: some as headings, some in a table, the rest as paragraphs.
QByteArray awkwardRtf()
{
    QString rtf = QStringLiteral("{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Liberation Sans;}}"
                                 "{\\stylesheet{\\s0 Normal;}{\\s1\\b\\fs32 heading 1;}}\n");
    for (qsizetype k = 0; k < kAwkwardLines.size(); ++k) {
        const QString line = rtfEscaped(kAwkwardLines[k]);
        if (k % 5 == 0)
            rtf += QStringLiteral("{\\pard\\s1\\b\\fs32 %1\\par}\n").arg(line);
        else if (k % 5 == 1 && k + 1 < kAwkwardLines.size())
            rtf += QStringLiteral("\\trowd\\cellx4500\\cellx9000\\pard\\intbl %1\\cell "
                                  "%2\\cell\\row\\pard\n")
                       .arg(line, rtfEscaped(kAwkwardLines[++k]));
        else
            rtf += QStringLiteral("{\\pard %1\\par}\n").arg(line);
    }
    return (rtf + u'}').toLatin1();
}

QByteArray readBytes(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

QString readAll(const QString& path)
{
    return QString::fromUtf8(readBytes(path));
}

// The office processes of this test still alive.
QList<qint64> officeProcesses(const QString& root)
{
    QList<qint64> found;
    const QByteArray ours = QUrl::fromLocalFile(root).toEncoded();
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool isPid = false;
        const qint64 pid = entry.toLongLong(&isPid);
        if (!isPid)
            continue;
        QFile commandLine(QStringLiteral("/proc/%1/cmdline").arg(entry));
        if (commandLine.open(QIODevice::ReadOnly) && commandLine.readAll().contains(ours)) {
            // A process that is gone but not yet reaped no longer counts.
            QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
            if (stat.open(QIODevice::ReadOnly) && stat.readAll().contains(") Z "))
                continue;
            found << pid;
        }
    }
    return found;
}

// True while an instance of ours holds profile slot `slot` below `root` (its lock).
bool slotHeld(const QString& root, int slot)
{
    const QByteArray lock = QFile::encodeName(root + QStringLiteral("/profile-%1.lock").arg(slot));
    const int fd = ::open(lock.constData(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
    ::close(fd);
    return held;
}

// A server on 127.0.0.1 (an ephemeral port) that counts the connections made to it and
// answers none; it listens only while it lives.
class LoopbackListener
{
public:
    LoopbackListener()
    {
        m_socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(m_socket, 16) != 0 ||
            ::getsockname(m_socket, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return;
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] {
            while (!m_stop) {
                pollfd wanted{m_socket, POLLIN, 0};
                if (::poll(&wanted, 1, 100) == 1)
                    acceptWaiting();
            }
        });
    }
    ~LoopbackListener()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        ::close(m_socket);
    }
    LoopbackListener(const LoopbackListener&) = delete;
    LoopbackListener& operator=(const LoopbackListener&) = delete;

    int port() const { return m_port; }
    // Every connection made so far, those the listener has not yet taken among them.
    int connections()
    {
        acceptWaiting();
        return m_connections;
    }

private:
    void acceptWaiting()
    {
        for (int connection;
             (connection = ::accept4(m_socket, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) {
            ++m_connections;
            ::close(connection);
        }
    }

    int m_socket = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_connections{0};
    std::thread m_thread;
};

// What a page marks as changed and as commented, read with the HTML parser as a browser
// reads it.
struct PageMarks
{
    QStringList changes;      // "ins TEXT" or "del TEXT", in document order
    QStringList authors;      // each change's cite
    QStringList dates;        // and its datetime
    bool blockInside = false; // a change that holds a block: one left open across blocks
    QStringList marks;        // the comment marks in the text, as shown ("[AR1]")
    QStringList comments;     // the list at the end: mark and text of each, in order
    bool linked = true;       // every mark leads to its comment and back
    QStringList hidden;       // text in HTML comments
};

PageMarks readMarks(const QByteArray& page)
{
    PageMarks found;
    htmlDocPtr doc = htmlReadMemory(page.constData(), int(page.size()), nullptr, nullptr,
                                    HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING |
                                        HTML_PARSE_NONET);
    if (!doc)
        return found;
    const auto text = [](const xmlNode* node) {
        xmlChar* value = xmlNodeGetContent(node);
        const QString result = QString::fromUtf8(reinterpret_cast<const char*>(value)).simplified();
        xmlFree(value);
        return result;
    };
    const auto attribute = [](const xmlNode* node, const char* name) {
        xmlChar* value = xmlGetProp(node, BAD_CAST name);
        const QString result = QString::fromUtf8(reinterpret_cast<const char*>(value));
        xmlFree(value);
        return result;
    };
    QSet<QString> ids;
    QStringList targets;
    const auto isBlock = [](const xmlNode* node) {
        static const QStringList blocks = {
            QStringLiteral("p"),  QStringLiteral("div"), QStringLiteral("td"),
            QStringLiteral("th"), QStringLiteral("li"),  QStringLiteral("table"),
            QStringLiteral("tr"), QStringLiteral("ul"),  QStringLiteral("ol"),
            QStringLiteral("h1"), QStringLiteral("h2"),  QStringLiteral("h3")};
        return node->type == XML_ELEMENT_NODE &&
               blocks.contains(QString::fromUtf8(reinterpret_cast<const char*>(node->name)));
    };
    const auto walk = [&](const xmlNode* node, bool inChange, const auto& self) -> void {
        for (; node; node = node->next) {
            if (node->type == XML_COMMENT_NODE) {
                found.hidden << text(node);
                continue;
            }
            if (node->type != XML_ELEMENT_NODE)
                continue;
            const QString name = QString::fromUtf8(reinterpret_cast<const char*>(node->name));
            if (!attribute(node, "id").isEmpty())
                ids << attribute(node, "id");
            if (inChange && isBlock(node))
                found.blockInside = true;
            const bool change = name == u"ins" || name == u"del";
            if (change) {
                found.changes << name + u' ' + text(node);
                found.authors << attribute(node, "cite");
                found.dates << attribute(node, "datetime");
            }
            const QString href = attribute(node, "href");
            if (name == u"a" && href.startsWith(QLatin1String("#_msocom_"))) {
                found.marks << text(node);
                targets << href.mid(1);
            }
            if (name == u"div" && attribute(node, "class") == u"msocomtxt") {
                found.comments << text(node);
                for (const xmlNode* p = node->children; p; p = p->next) {
                    for (const xmlNode* a = p->children; a; a = a->next) {
                        if (a->type == XML_ELEMENT_NODE && attribute(a, "href").startsWith(u'#'))
                            targets << attribute(a, "href").mid(1);
                    }
                }
            }
            self(node->children, inChange || change, self);
        }
    };
    walk(xmlDocGetRootElement(doc), false, walk);
    for (const QString& target : std::as_const(targets))
        found.linked = found.linked && ids.contains(target);
    xmlFreeDoc(doc);
    return found;
}

} // namespace

Q_DECLARE_METATYPE(ExtraPart)

class TestLibreOffice : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        if (!office::Installation::find())
            QSKIP("LibreOffice is not installed");
        QVERIFY(m_work.isValid());
        m_root = m_work.filePath(QStringLiteral("profiles"));
        m_out = m_work.filePath(QStringLiteral("out"));
        QVERIFY(QDir().mkpath(m_out));
        m_own = m_work.filePath(QStringLiteral("own"));
        QVERIFY(QDir().mkpath(m_own));

        // Documents of our own: RTF written here, turned into .doc and .docx by LibreOffice.
        const QByteArray rtf =
            "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Liberation Sans;}}\n"
            "{\\pard " +
            rtfEscaped(kOwnText).toLatin1() +
            "\\par}\n"
            "{\\pard " +
            rtfEscaped(kOwnGreek).toLatin1() +
            "\\par}\n"
            "\\trowd\\cellx2000\\cellx4000 cell one\\cell cell two\\cell\\row\n}";
        touchFile(m_own + QStringLiteral("/own.rtf"), rtf);
        touchFile(m_own + QStringLiteral("/awkward.rtf"), awkwardRtf());
        for (const char* format : {"doc", "docx"}) {
            QVERIFY(makeWithStockOffice(
                {m_own + QStringLiteral("/own.rtf"), m_own + QStringLiteral("/awkward.rtf")},
                QLatin1String(format), m_own));
        }
        touchFile(m_own + QStringLiteral("/notes.txt"), (kOwnText + u'\n' + kOwnGreek).toUtf8());
        // UTF-16 with a surrogate that has no partner, as damaged files hold: the office reads
        // it, but the bridge cannot carry it in a string.
        touchFile(
            m_own + QStringLiteral("/unpaired.txt"),
            QByteArray("\xff\xfe") +
                QByteArray(reinterpret_cast<const char*>(kOwnText.utf16()), kOwnText.size() * 2) +
                QByteArray(" \0\x00\xd8 \0", 6));

        LibreOfficeOptions options;
        options.profileRoot = m_root;
        options.documentTimeLimit = std::chrono::seconds(60);
        m_engine = makeLibreOfficeAutomation(options);
        m_leftAtStart = leftBehind(m_work.path());
    }

    // Has the office as a user's machine runs it make `format` files of `sources` in `folder`.
    bool makeWithStockOffice(const QStringList& sources, const QString& format,
                             const QString& folder)
    {
        QProcess convert;
        convert.start(
            office::Installation::find()->programFolder + QStringLiteral("/soffice"),
            QStringList{
                QStringLiteral("--headless"), QStringLiteral("--norestore"),
                QStringLiteral("-env:UserInstallation=") +
                    QUrl::fromLocalFile(m_work.filePath(QStringLiteral("maker"))).toString(),
                QStringLiteral("--convert-to"), format, QStringLiteral("--outdir"), folder} +
                sources);
        if (!convert.waitForFinished(120000))
            return false;
        for (const QString& source : sources) {
            const QString made =
                folder + u'/' + QFileInfo(source).completeBaseName() + u'.' + format;
            if (!QFile::exists(made)) {
                qWarning() << made << "not made:" << convert.readAllStandardError();
                return false;
            }
        }
        return true;
    }

    void cleanupTestCase()
    {
        m_engine.reset();
        m_gateEngine.reset();
        if (m_root.isEmpty())
            return;
        QCOMPARE(officeProcesses(m_work.path()), QList<qint64>());
        // Every run of the tests, the corpus gate's among them, leaves nothing behind.
        QCOMPARE(leftBehind(m_work.path()), m_leftAtStart);
        QCOMPARE(QDirIterator(m_work.path(), {QStringLiteral(".docuflume-*")},
                              QDir::Dirs | QDir::Hidden, QDirIterator::Subdirectories)
                     .hasNext(),
                 false);
    }

    void convertsOwnDocuments_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("format");
        for (const char* name : {"own.rtf", "own.doc", "own.docx", "notes.txt"}) {
            QTest::addRow("%s normal", name) << QString::fromLatin1(name) << int(HtmlNormal);
            QTest::addRow("%s filtered", name) << QString::fromLatin1(name) << int(HtmlFiltered);
        }
    }

    void convertsOwnDocuments()
    {
        QFETCH(QString, name);
        QFETCH(int, format);
        const QString output = m_out + QStringLiteral("/own-%1-%2.htm").arg(name).arg(format);
        ExportDocument(
            m_engine.get(), [&] { return std::optional<int>(format); }, m_own + u'/' + name,
            output);
        // The writer wraps long lines, so whitespace is compared loosely.
        const QString html = readAll(output).simplified();
        QVERIFY2(html.contains(kOwnText) && html.contains(kOwnGreek),
                 qPrintable(html.mid(html.indexOf(QStringLiteral("<body")), 1500)));
        if (!name.endsWith(QLatin1String(".txt")))
            QVERIFY(html.contains(QStringLiteral("cell two")));
        if (format == HtmlFiltered)
            QVERIFY(html.contains(QStringLiteral("XHTML")));
        else
            QVERIFY(html.startsWith(QStringLiteral("<!DOCTYPE html>")));
        QVERIFY(noStagingLeft());
    }

    // The words a package holds, as the check of a page counts them, without the office: a
    // word split over runs counts once, hidden runs and fallbacks none; a package past its
    // bounds, or with a damaged part, is not counted at all.
    void packageWordsAreCounted_data()
    {
        QTest::addColumn<QString>("body");
        QTest::addColumn<QList<ExtraPart>>("extras");
        QTest::addColumn<int>("words"); // -1: not counted
        QTest::newRow("runs, tabs and breaks")
            << QStringLiteral("<w:p><w:r><w:t>Light</w:t></w:r><w:r><w:t>house</w:t><w:tab/>"
                              "<w:t>keeper</w:t><w:br/><w:t>of&#160;Docuflume</w:t></w:r></w:p>")
            << QList<ExtraPart>() << 4;
        QTest::newRow("hidden runs and fallbacks")
            << QStringLiteral(
                   "<w:p><w:r><w:rPr><w:vanish/></w:rPr><w:t>hidden words</w:t></w:r><w:r>"
                   "<w:rPr><w:vanish w:val=\"false\"/></w:rPr><w:t xml:space=\"preserve\">shown "
                   "</w:t></w:r>"
                   "<mc:AlternateContent xmlns:mc=\"http://schemas.openxmlformats.org/"
                   "markup-compatibility/2006\"><mc:Choice Requires=\"wps\"><w:r><w:t>boxed "
                   "text</w:t></w:r></mc:Choice><mc:Fallback><w:r><w:t>boxed text</w:t></w:r>"
                   "</mc:Fallback></mc:AlternateContent></w:p>")
            << QList<ExtraPart>() << 3;
        const auto margin = [](const char* kind, int k, const QByteArray& text) {
            const QString tag = QLatin1String(kind) == QLatin1String("header") ? "hdr" : "ftr";
            return ExtraPart{
                QStringLiteral("%1%2.xml").arg(QLatin1String(kind)).arg(k),
                QStringLiteral("application/"
                               "vnd.openxmlformats-officedocument.wordprocessingml.%1+xml")
                    .arg(QLatin1String(kind)),
                QLatin1String(kind),
                "<w:" + tag.toUtf8() +
                    " xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/"
                    "main\"><w:p><w:r><w:t>" +
                    text + "</w:t></w:r></w:p></w:" + tag.toUtf8() + ">"};
        };
        // A section's properties, naming the parts given by their numbers.
        const auto section = [](std::initializer_list<std::pair<const char*, int>> named) {
            QString references;
            for (const auto& [kind, k] : named)
                references += QStringLiteral("<w:%1Reference w:type=\"default\" r:id=\"extra%2\"/>")
                                  .arg(QLatin1String(kind))
                                  .arg(k);
            return QStringLiteral("<w:p><w:pPr><w:sectPr>%1</w:sectPr></w:pPr><w:r><w:t>Body</w:t>"
                                  "</w:r></w:p>")
                .arg(references);
        };
        QTest::newRow("a header the section names")
            << section({{"header", 0}}) << QList<ExtraPart>{margin("header", 1, "Page header")}
            << 3;
        QTest::newRow("a header no section names")
            << section({}) << QList<ExtraPart>{margin("header", 1, "Page header")} << 1;
        // Two sections, each its own header and one footer: a page shows one of each.
        QTest::newRow("the largest header and footer of the sections")
            << section({{"header", 0}, {"footer", 2}}) + section({{"header", 1}})
            << QList<ExtraPart>{margin("header", 1, "Short header"),
                                margin("header", 2, "A header of five words"),
                                margin("footer", 3, "Footer")}
            << 8;
        QTest::newRow("comments, which the page lists at its end")
            << QStringLiteral("<w:p><w:r><w:t>Body</w:t></w:r></w:p>")
            << QList<
                   ExtraPart>{{QStringLiteral("comments.xml"),
                               QStringLiteral("application/"
                                              "vnd.openxmlformats-officedocument.wordprocessingml."
                                              "comments+xml"),
                               QStringLiteral("comments"),
                               "<w:comments "
                               "xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/"
                               "main\"><w:comment w:id=\"0\"><w:p><w:r><w:t>A remark of the "
                               "reviewer</w:t></w:r></w:p></w:comment></w:comments>"}}
            << 6;
        QTest::newRow("a damaged header")
            << section({{"header", 0}})
            << QList<ExtraPart>{{QStringLiteral("header1.xml"), QStringLiteral("application/xml"),
                                 QStringLiteral("header"), "<w:hdr><w:p>"}}
            << -1;
        ExtraPart shouting = margin("header", 1, "Page header");
        shouting.stored = shouting.name.toUpper();
        QTest::newRow("a part stored in another case than it is named")
            << section({{"header", 0}}) << QList<ExtraPart>{shouting} << 3;
        QList<ExtraPart> crowd;
        for (int k = 0; k <= 20'000; ++k)
            crowd.append({QStringLiteral("crowd/%1").arg(k), {}, {}, {}});
        QTest::newRow("more entries than a document holds")
            << QStringLiteral("<w:p><w:r><w:t>Body</w:t></w:r></w:p>") << crowd << -1;
        // 66 MB of short paragraphs, packed into some 100 KB.
        QTest::newRow("a part too large")
            << QStringLiteral("<w:p><w:r><w:t>a</w:t></w:r></w:p>").repeated(2'000'000)
            << QList<ExtraPart>() << -1;
    }

    void packageWordsAreCounted()
    {
        QFETCH(QString, body);
        QFETCH(QList<ExtraPart>, extras);
        QFETCH(int, words);
        const QString path = m_work.filePath(QStringLiteral("counted.docx"));
        writeWordPackage(path, body, extras);
        const std::optional<qsizetype> counted = WordPackageWords(path);
        QCOMPARE(counted.value_or(-1), qsizetype(words));
    }

    // Text that reads like markup, code, CSS, urls, paths or entities, in every script,
    // converts in both flavours from each Word format, and reads on the page exactly as it
    // was written. Converted in one batch, as the Start button converts.
    void awkwardTextRoundTrips()
    {
        LibreOfficeOptions options;
        options.profileRoot = m_work.filePath(QStringLiteral("awkward-profiles"));
        const auto engine = makeLibreOfficeAutomation(options);
        const QString out = m_work.filePath(QStringLiteral("awkward"));
        QVERIFY(QDir().mkpath(out));
        QList<PlannedExport> pages;
        for (const char* kind : {"rtf", "doc", "docx"}) {
            for (const int format : {int(HtmlNormal), int(HtmlFiltered)})
                pages.append({m_own + QStringLiteral("/awkward.") + QLatin1String(kind),
                              out + QStringLiteral("/awkward-%1-%2.htm").arg(kind).arg(format),
                              format});
        }
        QStringList failures;
        engine->beginBatch();
        for (qsizetype k = 0; k < pages.size(); ++k) {
            engine->planAhead(pages.mid(k, engine->aheadCapacity()));
            try {
                ExportDocument(
                    engine.get(), [&] { return std::optional<int>(pages[k].fileFormat); },
                    pages[k].source, pages[k].outputPath);
            } catch (const Failure& failure) {
                failures << failure.description();
            }
        }
        engine->endBatch();
        QCOMPARE(failures, QStringList());
        for (const PlannedExport& page : std::as_const(pages)) {
            QString text = ReadHtmlPage(readBytes(page.outputPath)).visibleText;
            text.replace(QChar(0xA0), u' ');
            QStringList missing;
            for (const QString& line : kAwkwardLines) {
                if (!text.contains(line))
                    missing << line;
            }
            QVERIFY2(missing.isEmpty(),
                     qPrintable(QFileInfo(page.outputPath).fileName() +
                                QStringLiteral(" lacks:\n") + missing.join(u'\n')));
        }
    }

    // Nothing in a document reaches a network while it converts: each way a document names
    // a remote file, pointed at a listener on this machine, in both flavours. The page keeps
    // the remote reference, and the document converts. The instances here have the network,
    // so that the profile's settings are what is tried; %1 stands for the listener's URL.
    void documentsStayInside_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("body");
        QTest::addColumn<QList<ExtraPart>>("extras");
        QTest::addColumn<QString>("kept"); // a reference the page keeps, when it keeps one
        QTest::addColumn<int>("format");
        const QString xml = QStringLiteral("application/xml");
        const auto remote = [](const char* name, const char* relation) {
            return ExtraPart{
                QStringLiteral("%1/") + QLatin1String(name), {}, QLatin1String(relation), {}, true};
        };
        // A part the main document names, with one remote file of its own.
        const auto partWithRemote = [&](const char* part, const char* relation,
                                        const QByteArray& content, const char* target,
                                        const char* targetRelation) {
            const QString name = QLatin1String(part);
            return QList<ExtraPart>{
                {name, xml, QLatin1String(relation), content},
                {QStringLiteral("_rels/") + name + QStringLiteral(".rels"),
                 {},
                 {},
                 "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Relationships xmlns=\"http://"
                 "schemas.openxmlformats.org/package/2006/relationships\"><Relationship "
                 "Id=\"remote\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/"
                 "relationships/" +
                     QByteArray(targetRelation) + "\" Target=\"%1/" + target +
                     "\" TargetMode=\"External\"/></Relationships>"}};
        };
        const QByteArray wordNamespaces =
            "xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\" "
            "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"";
        const QString field =
            QStringLiteral("<w:p><w:fldSimple w:instr=\" %2 \"><w:r><w:t>shown before</w:t></w:r>"
                           "</w:fldSimple></w:p>");
        const QString includePicture =
            field.arg(QStringLiteral("INCLUDEPICTURE &quot;%1/field.png&quot; \\d"));
        const QString includeText =
            field.arg(QStringLiteral("INCLUDETEXT &quot;%1/included.docx&quot;"));
        const QString linkField = field.arg(QStringLiteral(
            "LINK Word.Document.12 &quot;%1/linked.docx&quot; &quot;&quot; \\a \\f 0"));
        const QString linkedObject = QStringLiteral(
            "<w:p><w:r><w:object><v:shape id=\"linked\" style=\"width:60pt;height:40pt\">"
            "<v:imagedata r:id=\"extra0\"/></v:shape><o:OLEObject Type=\"Link\" "
            "ProgID=\"Word.Document.12\" ShapeID=\"linked\" DrawAspect=\"Content\" "
            "r:id=\"extra1\" UpdateMode=\"Always\"><o:LinkType>EnhancedMetaFile</o:LinkType>"
            "</o:OLEObject></w:object></w:r></w:p>");
        const QString linkedPicture =
            QString(kPictureParagraph)
                .replace(QStringLiteral("r:embed=\"extra0\""), QStringLiteral("r:link=\"extra0\""));
        struct Way
        {
            const char* name;
            QString body;
            QList<ExtraPart> extras;
            QString kept;
        };
        const QList<Way> ways = {
            {"linked picture",
             linkedPicture,
             {remote("linked.png", "image")},
             QStringLiteral("%1/linked.png")},
            {"INCLUDEPICTURE", includePicture, {}, {}},
            {"INCLUDETEXT", includeText, {}, {}},
            {"LINK", linkField, {}, {}},
            {"linked object", linkedObject, {redPicture(), remote("object.docx", "oleObject")}, {}},
            {"subdocument",
             QStringLiteral("<w:subDoc r:id=\"extra0\"/>"),
             {remote("sub.docx", "subDocument")},
             {}},
            {"remote template",
             {},
             partWithRemote("settings.xml", "settings",
                            "<w:settings " + wordNamespaces +
                                "><w:attachedTemplate r:id=\"remote\"/></w:settings>",
                            "template.dotx", "attachedTemplate"),
             {}},
            {"frameset",
             {},
             partWithRemote("webSettings.xml", "webSettings",
                            "<w:webSettings " + wordNamespaces +
                                "><w:frameset><w:frame><w:name w:val=\"shown\"/>"
                                "<w:sourceFileName r:id=\"remote\"/></w:frame></w:frameset>"
                                "</w:webSettings>",
                            "frame.docx", "frame"),
             {}},
        };
        const QString rtfField =
            QStringLiteral("{\\rtf1\\ansi{\\pard Words first\\par}{\\field{\\*\\fldinst %2}"
                           "{\\fldrslt shown before}}}");
        for (const int format : {int(HtmlNormal), int(HtmlFiltered)}) {
            for (const Way& way : ways) {
                QTest::addRow("%s, .docx, %d", way.name, format)
                    << QStringLiteral("docx") << way.body << way.extras << way.kept << format;
                // The office makes the .doc from the .docx.
                QTest::addRow("%s, .doc, %d", way.name, format)
                    << QStringLiteral("doc") << way.body << way.extras << QString() << format;
            }
            for (const char* instruction :
                 {"INCLUDEPICTURE \"%1/rtf.png\" \\\\d", "INCLUDETEXT \"%1/rtf.docx\"",
                  "LINK Word.Document.12 \"%1/rtf.docx\" \"\" \\\\a"}) {
                QTest::addRow("%s, .rtf, %d", instruction, format)
                    << QStringLiteral("rtf") << rtfField.arg(QLatin1String(instruction))
                    << QList<ExtraPart>() << QString() << format;
            }
            QTest::addRow("remote template, .rtf, %d", format)
                << QStringLiteral("rtf")
                << QStringLiteral("{\\rtf1\\ansi{\\*\\template %1/template.dotx}"
                                  "{\\pard Words first\\par}}")
                << QList<ExtraPart>() << QString() << format;
        }
    }

    void documentsStayInside()
    {
        QFETCH(QString, file);
        QFETCH(QString, body);
        QFETCH(QList<ExtraPart>, extras);
        QFETCH(QString, kept);
        QFETCH(int, format);
        LoopbackListener listener;
        QVERIFY(listener.port() > 0);
        const QString url = QStringLiteral("http://127.0.0.1:%1").arg(listener.port());
        const QString name = QStringLiteral("remote-%1").arg(qHash(QTest::currentDataTag()));
        QString source = m_work.filePath(name + u'.' + file);
        body.replace(QStringLiteral("%1"), url);
        kept.replace(QStringLiteral("%1"), url);
        if (file == QLatin1String("rtf")) {
            touchFile(source, body.toLatin1());
        } else {
            for (ExtraPart& extra : extras) {
                extra.name.replace(QStringLiteral("%1"), url);
                extra.bytes.replace("%1", url.toUtf8());
            }
            source = m_work.filePath(name + QStringLiteral(".docx"));
            writeWordPackage(source,
                             QStringLiteral("<w:p><w:r><w:t>Words first</w:t></w:r></w:p>") + body,
                             extras);
        }
        if (file == QLatin1String("doc")) {
            QVERIFY(makeWithStockOffice({source}, QStringLiteral("doc"), m_work.path()));
            source = m_work.filePath(name + QStringLiteral(".doc"));
        }
        const int before = listener.connections(); // the stock office's, making the .doc
        LibreOfficeOptions options;
        options.profileRoot = m_root;
        options.withoutNetwork = false;
        const auto engine = makeLibreOfficeAutomation(options);
        const QString page = m_out + u'/' + name + QStringLiteral(".htm");
        ExportDocument(
            engine.get(), [&] { return std::optional<int>(format); }, source, page);
        const HtmlPage shown = ReadHtmlPage(readBytes(page));
        QVERIFY(shown.visibleText.contains(QStringLiteral("Words first")));
        if (!kept.isEmpty())
            QVERIFY(shown.urls.contains(kept));
        QCOMPARE(listener.connections() - before, 0);
    }

    // Where the machine allows it, an instance has no network at all: a namespace of its own
    // whose only interface is a loopback that is down. Its pipe still works.
    void instancesHaveNoNetwork()
    {
        if (QProcess::execute(QStringLiteral("unshare"),
                              {QStringLiteral("--net"), QStringLiteral("--map-root-user"),
                               QStringLiteral("true")}) != 0)
            QSKIP("This machine gives no process a network namespace of its own");
        const auto networkOf = [](const QString& pid) {
            char target[64] = {};
            const QByteArray link = "/proc/" + pid.toLatin1() + "/ns/net";
            return ::readlink(link.constData(), target, sizeof target - 1) > 0 ? QByteArray(target)
                                                                               : QByteArray();
        };
        LibreOfficeOptions options;
        options.profileRoot = m_work.filePath(QStringLiteral("closed-profiles"));
        options.aheadInstances = 0;
        const auto engine = makeLibreOfficeAutomation(options);
        const auto instance = engine->create();
        const QList<qint64> pids = officeProcesses(options.profileRoot);
        QCOMPARE(pids.size(), 1);
        const QString pid = QString::number(pids.first());
        QVERIFY(!networkOf(pid).isEmpty());
        QVERIFY(networkOf(pid) != networkOf(QStringLiteral("self")));
        QStringList interfaces;
        const QStringList lines = readAll(QStringLiteral("/proc/%1/net/dev").arg(pid))
                                      .split(u'\n', Qt::SkipEmptyParts)
                                      .mid(2); // two lines of headings
        for (const QString& line : lines)
            interfaces << line.section(u':', 0, 0).trimmed();
        QCOMPARE(interfaces, QStringList{QStringLiteral("lo")});
        QVERIFY(instance->open(m_own + QStringLiteral("/own.docx")));
        instance->quit();
    }

    // A page says what its document says: tracked insertions and deletions marked as Word's
    // pages mark them, in every block they run through; comments listed at the end, each
    // linked both ways with a mark where it stands. From .docx made here, and .doc and .rtf
    // the office makes from it; in both flavours.
    void changesAndCommentsAreShown_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<int>("format");
        QTest::addColumn<QStringList>("changes");
        QTest::addColumn<QStringList>("comments");
        QTest::addColumn<QString>("shown"); // text the page shows, changes and marks in it
        const QString by =
            QStringLiteral(" w:author=\"Ann Reviewer\" w:date=\"2026-12-01T10:00:00Z\"");
        const auto run = [](const char* text) {
            return QStringLiteral("<w:r><w:t xml:space=\"preserve\">%1</w:t></w:r>")
                .arg(QLatin1String(text));
        };
        const auto inserted = [&](int id, const char* text) {
            return QStringLiteral("<w:ins w:id=\"%1\"%2>").arg(id).arg(by) + run(text) +
                   QStringLiteral("</w:ins>");
        };
        const auto deleted = [&](int id, const char* text) {
            return QStringLiteral("<w:del w:id=\"%1\"%2><w:r><w:delText xml:space=\"preserve\">"
                                  "%3</w:delText></w:r></w:del>")
                .arg(id)
                .arg(by, QLatin1String(text));
        };
        const auto paragraph = [](const QString& content) {
            return QStringLiteral("<w:p>") + content + QStringLiteral("</w:p>");
        };
        // A paragraph whose mark is deleted: it runs into the next one.
        const auto joined = [&](int id, const QString& content) {
            return QStringLiteral("<w:p><w:pPr><w:rPr><w:del w:id=\"%1\"%2/></w:rPr></w:pPr>")
                       .arg(id)
                       .arg(by) +
                   content + QStringLiteral("</w:p>");
        };
        const auto cell = [](const QString& content) {
            return QStringLiteral("<w:tc><w:tcPr><w:tcW w:w=\"2000\" w:type=\"dxa\"/></w:tcPr>"
                                  "<w:p>") +
                   content + QStringLiteral("</w:p></w:tc>");
        };
        const auto commentAt = [&](int id, const QString& content) {
            return QStringLiteral("<w:commentRangeStart w:id=\"%1\"/>").arg(id) + content +
                   QStringLiteral("<w:commentRangeEnd w:id=\"%1\"/><w:r><w:commentReference "
                                  "w:id=\"%1\"/></w:r>")
                       .arg(id);
        };
        const auto comments =
            [](const QList<std::tuple<const char*, const char*, const char*>>& list) {
                QByteArray xml =
                    "<w:comments xmlns:w=\"http://schemas.openxmlformats.org/"
                    "wordprocessingml/2006/main\" xmlns:w14=\"http://schemas.microsoft."
                    "com/office/word/2010/wordml\">";
                for (qsizetype k = 0; k < list.size(); ++k) {
                    const auto& [author, initials, text] = list[k];
                    xml += "<w:comment w:id=\"" + QByteArray::number(k) + "\" w:author=\"" +
                           author + "\" w:date=\"2026-12-01T11:00:00Z\" w:initials=\"" + initials +
                           "\"><w:p w14:paraId=\"0000000" + QByteArray::number(k + 1) +
                           "\"><w:r><w:t>" + text + "</w:t></w:r></w:p></w:comment>";
                }
                return ExtraPart{QStringLiteral("comments.xml"),
                                 QStringLiteral("application/vnd.openxmlformats-officedocument."
                                                "wordprocessingml.comments+xml"),
                                 QStringLiteral("comments"), xml + "</w:comments>"};
            };
        const ExtraPart answers{
            QStringLiteral("commentsExtended.xml"),
            QStringLiteral("application/vnd.openxmlformats-officedocument.wordprocessingml."
                           "commentsExtended+xml"),
            QStringLiteral("http://schemas.microsoft.com/office/2011/relationships/"
                           "commentsExtended"),
            "<w15:commentsEx xmlns:w15=\"http://schemas.microsoft.com/office/word/2012/wordml\">"
            "<w15:commentEx w15:paraId=\"00000001\" w15:done=\"0\"/><w15:commentEx "
            "w15:paraId=\"00000002\" w15:paraIdParent=\"00000001\" w15:done=\"0\"/>"
            "</w15:commentsEx>"};
        struct Row
        {
            const char* name;
            QString body;
            QList<ExtraPart> extras;
            QStringList changes;
            QStringList comments;
            QString shown;
        };
        const QList<Row> rows = {
            {"insertion",
             paragraph(run("Kept words ") + inserted(1, "INSERTEDTEXT") + run(" end.")),
             {},
             {QStringLiteral("ins INSERTEDTEXT")},
             {},
             QStringLiteral("Kept words INSERTEDTEXT end.")},
            {"deletion",
             paragraph(run("Kept words ") + deleted(1, "DELETEDTEXT") + run(" end.")),
             {},
             {QStringLiteral("del DELETEDTEXT")},
             {},
             QStringLiteral("Kept words DELETEDTEXT end.")},
            {"both in one paragraph",
             paragraph(run("Kept words ") + deleted(1, "DELETEDTEXT") +
                       inserted(2, "INSERTEDTEXT") + run(" end.")),
             {},
             {QStringLiteral("del DELETEDTEXT"), QStringLiteral("ins INSERTEDTEXT")},
             {},
             QStringLiteral("Kept words DELETEDTEXTINSERTEDTEXT end.")},
            {"a deletion across two paragraphs",
             joined(1, run("First stays ") + deleted(2, "GONEONE")) +
                 paragraph(deleted(3, "GONETWO") + run(" second stays.")),
             {},
             {QStringLiteral("del GONEONE"), QStringLiteral("del GONETWO")},
             {},
             QStringLiteral("First stays GONEONE")},
            {"a deletion across table cells",
             QStringLiteral("<w:tbl><w:tblGrid><w:gridCol w:w=\"2000\"/><w:gridCol w:w=\"2000\"/>"
                            "</w:tblGrid><w:tr>") +
                 cell(run("Cell one ") + deleted(1, "GONEONE")) +
                 cell(deleted(2, "GONETWO") + run(" cell two")) +
                 QStringLiteral("</w:tr></w:tbl>") + paragraph(run("After the table.")),
             {},
             {QStringLiteral("del GONEONE"), QStringLiteral("del GONETWO")},
             {},
             QStringLiteral("Cell one GONEONE")},
            {"a move",
             paragraph(run("Here ") +
                       QStringLiteral("<w:moveFromRangeStart w:id=\"1\" w:name=\"move1\"%1/>"
                                      "<w:moveFrom w:id=\"2\"%1>")
                           .arg(by) +
                       run("MOVEDTEXT") +
                       QStringLiteral("</w:moveFrom><w:moveFromRangeEnd w:id=\"1\"/>")) +
                 paragraph(run("There ") +
                           QStringLiteral("<w:moveToRangeStart w:id=\"3\" w:name=\"move1\"%1/>"
                                          "<w:moveTo w:id=\"4\"%1>")
                               .arg(by) +
                           run("MOVEDTEXT") +
                           QStringLiteral("</w:moveTo><w:moveToRangeEnd w:id=\"3\"/>")),
             {},
             {QStringLiteral("del MOVEDTEXT"), QStringLiteral("ins MOVEDTEXT")},
             {},
             QStringLiteral("There MOVEDTEXT")},
            {"a change of formatting",
             paragraph(run("Kept words ") +
                       QStringLiteral("<w:r><w:rPr><w:b/><w:rPrChange w:id=\"1\"%1><w:rPr/>"
                                      "</w:rPrChange></w:rPr><w:t>BOLDNOW</w:t></w:r>")
                           .arg(by) +
                       run(" end.")),
             {},
             {},
             {},
             // (Not "Kept words BOLDNOW": the office writes this change into RTF as a number
             // that its own reader then shows as text, the command line too.)
             QStringLiteral("BOLDNOW end.")},
            {"a comment",
             paragraph(run("Kept words ") + commentAt(0, run("COMMENTED")) + run(" end.")),
             {comments({{"Ann Reviewer", "AR", "A REMARK"}})},
             {},
             {QStringLiteral("[AR1] A REMARK")},
             QStringLiteral("Kept words COMMENTED[AR1] end.")},
            {"a reply",
             // (As Word writes a reply: over the same text, ending after the comment.)
             paragraph(run("Kept words ") +
                       QStringLiteral("<w:commentRangeStart w:id=\"0\"/><w:commentRangeStart "
                                      "w:id=\"1\"/>") +
                       run("COMMENTED") +
                       QStringLiteral("<w:commentRangeEnd w:id=\"0\"/><w:r><w:commentReference "
                                      "w:id=\"0\"/></w:r><w:commentRangeEnd w:id=\"1\"/><w:r>"
                                      "<w:commentReference w:id=\"1\"/></w:r>") +
                       run(" end.")),
             {comments({{"Ann Reviewer", "AR", "A REMARK"}, {"Bob Writer", "BW", "A REPLY"}}),
              answers},
             {},
             {QStringLiteral("[AR1] A REMARK"), QStringLiteral("[BW2] A REPLY")},
             QStringLiteral("Kept words COMMENTED")},
            {"a comment on a deleted word",
             paragraph(run("Kept words ") +
                       commentAt(0, QStringLiteral("<w:del w:id=\"5\"%1><w:r><w:delText>"
                                                   "GONEWORD</w:delText></w:r></w:del>")
                                        .arg(by)) +
                       run(" end.")),
             {comments({{"Ann Reviewer", "AR", "WHY GONE"}})},
             {QStringLiteral("del GONEWORD")},
             {QStringLiteral("[AR1] WHY GONE")},
             QStringLiteral("Kept words GONEWORD")},
        };
        // The sources, made once: the .docx here, the .doc and .rtf by the office from it.
        const QString folder = m_work.filePath(QStringLiteral("revisions"));
        QDir().mkpath(folder);
        QStringList made;
        for (qsizetype k = 0; k < rows.size(); ++k) {
            made << folder + QStringLiteral("/change%1.docx").arg(k);
            writeWordPackage(made.last(), rows[k].body, rows[k].extras);
        }
        for (const char* other : {"doc", "rtf"})
            QVERIFY(makeWithStockOffice(made, QLatin1String(other), folder));
        for (const char* suffix : {"docx", "doc", "rtf"}) {
            for (qsizetype k = 0; k < rows.size(); ++k) {
                const Row& row = rows[k];
                for (const int format : {int(HtmlNormal), int(HtmlFiltered)}) {
                    QTest::addRow("%s, .%s, %d", row.name, suffix, format)
                        << folder + QStringLiteral("/change%1.").arg(k) + QLatin1String(suffix)
                        << format << row.changes << row.comments << row.shown;
                }
            }
        }
    }

    void changesAndCommentsAreShown()
    {
        QFETCH(QString, source);
        QFETCH(int, format);
        QFETCH(QStringList, changes);
        QFETCH(QStringList, comments);
        QFETCH(QString, shown);
        const QString page =
            m_out +
            QStringLiteral("/revisions/%1-%2.htm").arg(QFileInfo(source).fileName()).arg(format);
        QDir().mkpath(QFileInfo(page).path());
        ExportDocument(
            m_engine.get(), [&] { return std::optional<int>(format); }, source, page);
        const QByteArray bytes = readBytes(page);
        const PageMarks marks = readMarks(bytes);
        QVERIFY2(marks.changes == changes, qPrintable(marks.changes.join(u'|')));
        for (qsizetype k = 0; k < marks.changes.size(); ++k) {
            QCOMPARE(marks.authors[k], QStringLiteral("mailto:Ann%20Reviewer"));
            QVERIFY2(marks.dates[k].startsWith(QLatin1String("2026-12-01T10:00")),
                     qPrintable(marks.dates[k]));
        }
        QVERIFY(!marks.blockInside);
        QCOMPARE(marks.comments, comments);
        QCOMPARE(marks.marks.size(), comments.size());
        QVERIFY(marks.linked);
        for (const QString& hidden : marks.hidden) {
            for (const QString& comment : comments)
                QVERIFY2(!hidden.contains(comment.section(u' ', 1)), qPrintable(hidden));
        }
        const QString text = ReadHtmlPage(bytes).visibleText.simplified();
        QVERIFY2(text.contains(shown), qPrintable(text));
    }

    // An instance's temporary folder is emptied of whatever it holds, links removed as links:
    // what they lead to stays, whether they stand in the folder or in its place.
    void profileTidyingKeepsToItsOwn()
    {
        const QString profile = m_work.filePath(QStringLiteral("tidied"));
        const QString outside = m_work.filePath(QStringLiteral("outside"));
        const QString temporary = office::temporaryFolder(profile);
        QVERIFY(QDir().mkpath(temporary + QStringLiteral("/lu1234.tmp")));
        QVERIFY(QDir().mkpath(outside));
        touchFile(outside + QStringLiteral("/keep.txt"), "kept");
        touchFile(temporary + QStringLiteral("/lu1234.tmp/sv1.tmp"), "left");
        touchFile(temporary + QStringLiteral("/words.txt"), "left");
        QVERIFY(QFile::link(outside, temporary + QStringLiteral("/planted")));
        office::tidyProfile(profile);
        QCOMPARE(QDir(temporary).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                           QDir::NoDotAndDotDot),
                 QStringList());
        QVERIFY(QFile::exists(outside + QStringLiteral("/keep.txt")));

        QVERIFY(QDir(temporary).removeRecursively());
        QVERIFY(QFile::link(outside, temporary));
        office::tidyProfile(profile);
        QVERIFY(!QFileInfo(temporary).isSymLink());
        QVERIFY(QFile::exists(outside + QStringLiteral("/keep.txt")));
    }

    // A picture the document links to (rather than holds) is found from where the page
    // lands, not from the folder the office first wrote the page into.
    void linkedPictureIsFoundFromThePage()
    {
        QImage red(8, 8, QImage::Format_RGB32);
        red.fill(Qt::red);
        QVERIFY(red.save(m_own + QStringLiteral("/red.png")));
        QVERIFY(QDir().mkpath(m_own + QStringLiteral("/linking")));
        touchFile(
            m_own + QStringLiteral("/linking/linked.fodt"),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<office:document "
            "xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
            "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" "
            "xmlns:draw=\"urn:oasis:names:tc:opendocument:xmlns:drawing:1.0\" "
            "xmlns:xlink=\"http://www.w3.org/1999/xlink\" "
            "xmlns:svg=\"urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0\" "
            "office:version=\"1.2\" office:mimetype=\"application/vnd.oasis.opendocument.text\">"
            "<office:body><office:text><text:p>Linked<draw:frame draw:name=\"pic\" "
            "text:anchor-type=\"as-char\" svg:width=\"1cm\" svg:height=\"1cm\"><draw:image "
            "xlink:href=\"../red.png\" xlink:type=\"simple\" xlink:show=\"embed\" "
            "xlink:actuate=\"onLoad\"/></draw:frame></text:p></office:text></office:body>"
            "</office:document>\n");
        const QString out = m_out + QStringLiteral("/linked/deeper");
        QVERIFY(QDir().mkpath(out));
        ExportDocument(
            m_engine.get(), [] { return std::optional<int>(HtmlNormal); },
            m_own + QStringLiteral("/linking/linked.fodt"), out + QStringLiteral("/linked.htm"));
        const QStringList links = ReadHtmlPage(readBytes(out + QStringLiteral("/linked.htm"))).urls;
        QCOMPARE(links.size(), 1);
        const QUrl target = QUrl::fromLocalFile(out + u'/').resolved(QUrl(links.first()));
        QVERIFY2(QFileInfo(target.toLocalFile()) == QFileInfo(m_own + QStringLiteral("/red.png")),
                 qPrintable(links.first()));
    }

    // Public test documents and our own samples, in both kinds of HTML: the text, and every
    // picture saved beside the page and referred to by it.
    void convertsRealDocuments_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("pictures");
        const QString corpus = kCorpus + u'/';
        QTest::newRow(".doc") << corpus + QStringLiteral("raw_text.doc")
                              << "They make me so happy I could smile." << 0;
        QTest::newRow(".docx with tables")
            << corpus + QStringLiteral("paragraphs_and_tables.docx") << "Row 2, Column 3" << 0;
        QTest::newRow(".rtf") << corpus + QStringLiteral("raw_text.rtf") << "They are lovely." << 0;
        QTest::newRow(".docx with pictures")
            << corpus + QStringLiteral("having-images.docx") << "" << 3;
        const QString samples = QStringLiteral(QT_TESTCASE_SOURCEDIR "/../Samples/");
        QTest::newRow("sample rtf")
            << samples + QStringLiteral("welcome.rtf") << "Thank you for trying Docuflume." << 0;
        QTest::newRow("sample docx")
            << samples + QStringLiteral("report-with-picture.docx") << "Documents converted" << 1;
        QTest::newRow("sample doc")
            << samples + QStringLiteral("greetings-around-the-world.doc") << "Здравствуй, мир" << 0;
        QTest::newRow("text with an unpaired surrogate")
            << m_own + QStringLiteral("/unpaired.txt") << kOwnText << 0;
        QTest::newRow("sample dotted") << samples + QStringLiteral("minutes.2021.final.doc")
                                       << "Minutes of the planning meeting" << 0;
    }

    void convertsRealDocuments()
    {
        QFETCH(QString, path);
        QFETCH(QString, text);
        QFETCH(int, pictures);
        if (path.startsWith(kCorpus) && !QFileInfo::exists(kCorpus))
            QSKIP("the shared corpus is not here");
        for (const int format : {int(HtmlNormal), int(HtmlFiltered)}) {
            const QString stem =
                QStringLiteral("real-%1-%2").arg(QFileInfo(path).completeBaseName()).arg(format);
            const QString output = m_out + u'/' + stem + QStringLiteral(".htm");
            ExportDocument(
                m_engine.get(), [&] { return std::optional<int>(format); }, path, output);
            const QString html = readAll(output).simplified();
            QVERIFY2(html.size() > 500, qPrintable(output));
            QVERIFY(html.contains(text));
            const QStringList images =
                QDir(m_out).entryList({stem + QStringLiteral("_htm_*")}, QDir::Files);
            QCOMPARE(images.size(), pictures);
            for (const QString& image : images)
                QVERIFY(html.contains(image));
        }
    }

    // Each kind of document that cannot be converted fails at once, in words a user can act
    // on, and never in the office's own (its source files, exceptions and URLs).
    void badDocumentsFailQuickly_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("words");
        const QString own = m_own + u'/';
        const QString damaged = QStringLiteral("%1 is damaged or is not a Word document.");
        const QString password = QStringLiteral("%1 is protected by a password.");
        QTest::newRow("zero bytes .docx")
            << own + QStringLiteral("zero.docx") << "%1 is empty: it is not a Word document.";
        for (const char* name :
             {"random.doc", "text.doc", "text.rtf", "picture.docx", "truncated.docx"})
            QTest::newRow(name) << own + QLatin1String(name) << damaged;
        QTest::newRow("missing") << own + QStringLiteral("missing.doc")
                                 << own + QStringLiteral("missing.doc could not be found.");
        QTest::newRow("folder") << m_own << "%1 is a folder, not a document.";
        QTest::newRow("text lost") << own + kHtmlChunkName
                                   << "LibreOffice lost the text of %1: the document holds 9 "
                                      "words, the page 0.";
        for (const char* name : {"rc4cryptoapi_password.doc", "example_password.docx",
                                 "ecma376standard_password.docx"})
            QTest::newRow(name) << kCorpus + u'/' + QLatin1String(name) << password;
        for (const char* name :
             {"clusterfuzz-testcase-minimized-POIXWPFFuzzer-5313273089884160.docx",
              "clusterfuzz-testcase-minimized-POIHWPFFuzzer-5440721166139392.doc",
              "corrupted_main_document_part.docx"})
            QTest::newRow(name) << kCorpus + u'/' + QLatin1String(name) << damaged;
    }

    void badDocumentsFailQuickly()
    {
        QFETCH(QString, path);
        QFETCH(QString, words);
        if (path.startsWith(kCorpus) && !QFileInfo::exists(path))
            QSKIP("the shared corpus is not here");
        makeBadDocuments();
        const QString output = m_out + QStringLiteral("/bad.htm");
        try {
            ExportDocument(
                m_engine.get(), [] { return std::optional<int>(HtmlNormal); }, path, output);
            QFAIL("the export should have failed");
        } catch (const Failure& failure) {
            QCOMPARE(failure.description(),
                     QString(words).replace(QLatin1String("%1"), QFileInfo(path).fileName()));
        }
        QVERIFY(!QFile::exists(output));
        QVERIFY(noStagingLeft());
        // Outside a batch nothing is readied ahead: only this document's instance was
        // started, and it ends (under load it may take a moment).
        QTRY_COMPARE_WITH_TIMEOUT(officeProcesses(m_root), QList<qint64>(), 20000);
    }

    // A page that lost the text the document holds fails, converted at its turn ("Normal")
    // or ahead of it ("Filtered", failing at its turn with the same words and no second
    // conversion), and an earlier page stays; a document without text, or whose text the
    // office shows in full, converts.
    void lostTextIsAFailedExport_data()
    {
        QTest::addColumn<QString>("body");
        QTest::addColumn<ExtraPart>("extra");
        QTest::addColumn<QString>("shows");   // words the page shows
        QTest::addColumn<QString>("failure"); // empty: it converts
        const auto lost = [](const char* row, int words) {
            return QStringLiteral("LibreOffice lost the text of lost-%1.docx: the document holds "
                                  "%2 words, the page 0.")
                .arg(QString::fromLatin1(row).replace(u' ', u'-'))
                .arg(words);
        };
        QTest::newRow("HTML chunk")
            << kChunkBody << kHtmlChunk << QString() << lost("HTML chunk", 9);
        QTest::newRow("plain-text chunk")
            << kChunkBody
            << ExtraPart{QStringLiteral("chunk.txt"), QStringLiteral("text/plain"),
                         QStringLiteral("aFChunk"),
                         "Minutes of the meeting held on Monday\r\nAll members were present."}
            << QString() << lost("plain-text chunk", 11);
        const QString included = m_work.filePath(QStringLiteral("included.docx"));
        writeWordPackage(included,
                         QStringLiteral("<w:p><w:r><w:t>Text of an included "
                                        "document, shown in its place.</w:t></w:r></w:p>"));
        QTest::newRow("Word chunk")
            << kChunkBody
            << ExtraPart{QStringLiteral("chunk.docx"),
                         QStringLiteral(
                             "application/"
                             "vnd.openxmlformats-officedocument.wordprocessingml.document"),
                         QStringLiteral("aFChunk"), readBytes(included)}
            << QStringLiteral("Text of an included document, shown in its place.") << QString();
        QTest::newRow("pictures only")
            << kPictureParagraph << redPicture() << QString() << QString();
        QTest::newRow("empty") << QStringLiteral("<w:p/>") << ExtraPart() << QString() << QString();
        // Its text is not the body's, which is all the office's own count sees.
        QTest::newRow("text box only")
            << QStringLiteral("<w:p><w:r><w:pict><v:shape id=\"box\" "
                              "style=\"width:300pt;height:80pt\"><v:textbox><w:txbxContent><w:p>"
                              "<w:r><w:t>Words that live only in a text box.</w:t></w:r></w:p>"
                              "</w:txbxContent></v:textbox></v:shape></w:pict></w:r></w:p>")
            << ExtraPart() << QStringLiteral("Words that live only in a text box.") << QString();
    }

    void lostTextIsAFailedExport()
    {
        QFETCH(QString, body);
        QFETCH(ExtraPart, extra);
        QFETCH(QString, shows);
        QFETCH(QString, failure);
        const QString name = QString::fromLatin1(QTest::currentDataTag()).replace(u' ', u'-');
        const QString source = m_own + QStringLiteral("/lost-%1.docx").arg(name);
        writeWordPackage(source, body,
                         extra.name.isEmpty() ? QList<ExtraPart>() : QList<ExtraPart>{extra});

        LibreOfficeOptions options;
        options.profileRoot = m_work.filePath(QStringLiteral("lost-profiles"));
        options.aheadInstances = 2;
        const auto ahead = makeLibreOfficeAutomation(options);
        for (const int format : {int(HtmlNormal), int(HtmlFiltered)}) {
            const QString page = m_out + QStringLiteral("/lost-%1-%2.htm").arg(name).arg(format);
            touchFile(page, "earlier");
            WordAutomation* engine = m_engine.get();
            std::optional<TurnInstances> atTurn;
            if (format == HtmlFiltered) {
                engine = ahead.get();
                engine->beginBatch();
                engine->planAhead({{source, page, format}});
                atTurn.emplace();
            }
            QString failed;
            try {
                ExportDocument(
                    engine, [&] { return std::optional<int>(format); }, source, page);
            } catch (const Failure& error) {
                failed = error.description();
            }
            if (atTurn) {
                engine->endBatch();
                QCOMPARE(atTurn->count(), 0);
                atTurn.reset();
            }
            QCOMPARE(failed, failure);
            if (!failure.isEmpty()) {
                QCOMPARE(readBytes(page), QByteArray("earlier"));
            } else {
                const QString text = ReadHtmlPage(readBytes(page)).visibleText.simplified();
                QVERIFY2(text.contains(shows), qPrintable(text));
                if (shows.isEmpty())
                    QCOMPARE(text, QString());
            }
            QVERIFY(noStagingLeft());
        }
    }

    // A stopped office answers nothing, as a hung one: opening, and closing at the end,
    // are both cut off at their limits.
    void hangingInstanceIsStopped()
    {
        LibreOfficeOptions options;
        options.profileRoot = m_work.filePath(QStringLiteral("hang-profiles"));
        options.documentTimeLimit = std::chrono::seconds(2);
        options.quitTimeLimit = std::chrono::seconds(2);
        const auto engine = makeLibreOfficeAutomation(options);
        const auto instance = engine->create();
        const QList<qint64> pids = officeProcesses(options.profileRoot);
        QCOMPARE(pids.size(), 1);
        QCOMPARE(::kill(pid_t(pids.first()), SIGSTOP), 0);
        try {
            instance->open(m_own + QStringLiteral("/own.docx"));
            QFAIL("a hung instance cannot open anything");
        } catch (const Failure& failure) {
            QCOMPARE(failure.description(),
                     QStringLiteral("LibreOffice did not finish converting own.docx within 2 "
                                    "seconds and was stopped."));
        }
        instance->quit();
        QCOMPARE(officeProcesses(options.profileRoot), QList<qint64>());

        // An office that dies (crashes, or is killed) under a call says so.
        const auto dying = engine->create();
        QCOMPARE(::kill(pid_t(officeProcesses(options.profileRoot).first()), SIGKILL), 0);
        try {
            dying->open(m_own + QStringLiteral("/own.docx"));
            QFAIL("a dead instance cannot open anything");
        } catch (const Failure& failure) {
            QCOMPARE(failure.description(),
                     QStringLiteral("LibreOffice stopped while converting own.docx."));
        }
        dying->quit();

        const auto closing = engine->create();
        const auto document = closing->open(m_own + QStringLiteral("/own.docx"));
        QCOMPARE(::kill(pid_t(officeProcesses(options.profileRoot).first()), SIGSTOP), 0);
        QElapsedTimer timer;
        timer.start();
        closing->quit();
        QVERIFY2(timer.elapsed() < 10000, qPrintable(QString::number(timer.elapsed())));
        QTRY_COMPARE(officeProcesses(options.profileRoot), QList<qint64>());
    }

    // Within a batch the instance readied ahead waits for the next document however long
    // that takes (an error box, a slow yield), and goes when the batch ends.
    void instanceReadiedAheadLastsTheBatch()
    {
        LibreOfficeOptions options;
        options.profileRoot = m_work.filePath(QStringLiteral("batch-profiles"));
        options.aheadInstances = 0; // the single instance started ahead, as on one core
        const auto engine = makeLibreOfficeAutomation(options);
        engine->beginBatch();
        const auto convert = [&](const char* name) {
            ExportDocument(
                engine.get(), [] { return std::optional<int>(HtmlNormal); },
                m_own + u'/' + QLatin1String(name), m_out + QStringLiteral("/batch.htm"));
        };
        convert("own.rtf");
        // The first document's instance (profile slot 0) ends within the quit limit; the one
        // readied for the next (slot 1, held through its restart) stays. Slots, not process
        // counts: a restarting instance has no process for a moment.
        const int quitLimit = int(options.quitTimeLimit.count()) + 5000;
        QTRY_VERIFY_WITH_TIMEOUT(!slotHeld(options.profileRoot, 0), quitLimit);
        QVERIFY(slotHeld(options.profileRoot, 1));
        QTest::qWait(6000);
        QVERIFY(slotHeld(options.profileRoot, 1));
        QVERIFY(!slotHeld(options.profileRoot, 0));
        // The next document takes it, and the instance readied after it takes slot 0.
        convert("own.docx");
        QTRY_VERIFY_WITH_TIMEOUT(!slotHeld(options.profileRoot, 1), quitLimit);
        engine->endBatch();
        QTRY_COMPARE(officeProcesses(options.profileRoot), QList<qint64>());
        QVERIFY(!slotHeld(options.profileRoot, 0));
    }

    // On a profile it has not run in, the office ends at once and asks to be started again.
    // An instance readied ahead is restarted on the helper thread that readies it, and must
    // live on after that thread is done.
    void instanceRestartedAheadLives()
    {
        LibreOfficeOptions options;
        options.profileRoot = m_work.filePath(QStringLiteral("restart-profiles"));
        options.aheadInstances = 0; // the single instance started ahead, as on one core
        {
            std::vector<std::unique_ptr<office::ProfileLease>> fresh;
            for (int slot = 0; slot < 6; ++slot) {
                fresh.push_back(office::ProfileLease::acquire(options.profileRoot,
                                                              *office::Installation::find()));
                fresh.back()->markReady();
            }
        }
        const auto engine = makeLibreOfficeAutomation(options);
        engine->beginBatch();
        for (const char* name : {"own.rtf", "own.doc", "own.docx"}) {
            const QString output = m_out + QStringLiteral("/restarted-%1.htm").arg(name);
            ExportDocument(
                engine.get(), [] { return std::optional<int>(HtmlNormal); },
                m_own + u'/' + QLatin1String(name), output);
            QVERIFY(readAll(output).contains(kOwnText));
            // The first document's instance holds the first profile slot; the instance
            // started ahead for the next document holds the second from its start on,
            // through its restart. (Counting processes would race the first one's end.)
            if (qstrcmp(name, "own.rtf") == 0)
                QVERIFY(slotHeld(options.profileRoot, 1));
        }
        engine->endBatch();
        QTRY_COMPARE(officeProcesses(options.profileRoot), QList<qint64>());
    }

    // Without Writer's user interface files (the nogui variant) the office aborts on many
    // documents: start-up says which package to install and goes no further.
    void officeWithoutWriterUiIsRefused()
    {
        const QString program = m_work.filePath(QStringLiteral("nogui/program"));
        const QString ui =
            m_work.filePath(QStringLiteral("nogui/share/config/soffice.cfg/modules/swriter/ui"));
        QVERIFY(QDir().mkpath(program) && QDir().mkpath(ui));
        touchFile(program + QStringLiteral("/fundamentalrc"), "[Bootstrap]\n");
        touchFile(program + QStringLiteral("/soffice.bin"), "#!/bin/sh\nexit 1\n");
        QVERIFY(QFile::setPermissions(program + QStringLiteral("/soffice.bin"),
                                      QFile::ReadOwner | QFile::ExeOwner));
        QVERIFY(!office::Installation::at(program)->writerUi);

        LibreOfficeOptions options;
        options.programFolder = program;
        options.profileRoot = m_work.filePath(QStringLiteral("nogui-profiles"));
        const auto engine = makeLibreOfficeAutomation(options);
        test::RecordingPrompts prompts;
        QVERIFY(!CheckWordInstalled(engine.get(), prompts, nullptr, QStringLiteral("Docuflume")));
        QCOMPARE(prompts.messages.size(), 1);
        const QString text = prompts.messages.first().text;
        QVERIFY(text.startsWith(QStringLiteral(
            "Error 842001. A normal instance of Word could not be created.\r\n\r\n")));
        QVERIFY2(text.contains(QStringLiteral("install the package libreoffice-writer ")),
                 qPrintable(text));
        QVERIFY(!QDir(options.profileRoot).exists()); // nothing was started

        touchFile(ui + QStringLiteral("/annotation.ui"), "<interface/>\n");
        QVERIFY(office::Installation::at(program)->writerUi);
    }

    void startButtonConvertsForReal()
    {
        test::TestPlatform platform;
        Platform services = platform.services();
        services.automation = m_engine.get();
        Form1 form(services);
        form.Form_Load();
        const QString out = m_work.filePath(QStringLiteral("window-out"));
        makeBadDocuments();
        for (const QString& name : {QStringLiteral("own.docx"), QStringLiteral("random.doc"),
                                    kHtmlChunkName, QStringLiteral("own.rtf")})
            form.documents().AddDocument(m_own + u'/' + name);

        const QStringList boxes = startInto(form, platform, out, "Option1");
        QCOMPARE(boxes.size(), 3);
        QVERIFY(boxes[0].contains(QStringLiteral("random.doc")));
        QVERIFY(boxes[0].contains(QStringLiteral("at line 144\r")));
        // A page that lost the document's text is a failure like any other, with no page.
        QVERIFY2(boxes[1].contains(QStringLiteral("LibreOffice lost the text of html-chunk.docx: "
                                                  "the document holds 9 words, the page 0.")),
                 qPrintable(boxes[1]));
        QCOMPARE(boxes[2], QStringLiteral("Done."));
        QVERIFY(readAll(out + QStringLiteral("/own.htm")).simplified().contains(kOwnText));
        QVERIFY(!QFile::exists(out + QStringLiteral("/random.htm")));
        QVERIFY(!QFile::exists(out + QStringLiteral("/html-chunk.htm")));
    }

    // A reviewed document through the window, in both flavours: what was deleted is marked
    // deleted, what was inserted inserted, and the comment is listed and linked.
    void changesThroughTheWindow()
    {
        const QString by =
            QStringLiteral(" w:author=\"Ann Reviewer\" w:date=\"2026-12-01T10:00:00Z\"");
        const QString source = m_own + QStringLiteral("/reviewed.docx");
        writeWordPackage(
            source,
            QStringLiteral("<w:p><w:r><w:t xml:space=\"preserve\">Kept words </w:t></w:r>"
                           "<w:del w:id=\"1\"%1><w:r><w:delText>DELETEDTEXT</w:delText></w:r>"
                           "</w:del><w:ins w:id=\"2\"%1><w:r><w:t>INSERTEDTEXT</w:t></w:r>"
                           "</w:ins><w:commentRangeStart w:id=\"0\"/><w:r><w:t xml:space="
                           "\"preserve\"> end.</w:t></w:r><w:commentRangeEnd w:id=\"0\"/><w:r>"
                           "<w:commentReference w:id=\"0\"/></w:r></w:p>")
                .arg(by),
            {{QStringLiteral("comments.xml"),
              QStringLiteral(
                  "application/vnd.openxmlformats-officedocument.wordprocessingml.comments+xml"),
              QStringLiteral("comments"),
              "<w:comments xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/"
              "main\"><w:comment w:id=\"0\" w:author=\"Ann Reviewer\" w:initials=\"AR\"><w:p>"
              "<w:r><w:t>A REMARK</w:t></w:r></w:p></w:comment></w:comments>"}});
        QStringList boxes;
        const QStringList folders = convertThroughTheWindow(source, boxes);
        QCOMPARE(boxes, (QStringList{QStringLiteral("Done."), QStringLiteral("Done.")}));
        for (const QString& out : folders) {
            const QByteArray page = readBytes(out + QStringLiteral("/reviewed.htm"));
            const PageMarks marks = readMarks(page);
            QCOMPARE(marks.changes, (QStringList{QStringLiteral("del DELETEDTEXT"),
                                                 QStringLiteral("ins INSERTEDTEXT")}));
            QCOMPARE(marks.authors.value(0), QStringLiteral("mailto:Ann%20Reviewer"));
            QVERIFY(marks.dates.value(1).startsWith(QLatin1String("2026-12-01T10:00")));
            QCOMPARE(marks.comments, QStringList{QStringLiteral("[AR1] A REMARK")});
            QVERIFY(marks.linked);
            QVERIFY(ReadHtmlPage(page).visibleText.simplified().contains(
                QStringLiteral("Kept words DELETEDTEXTINSERTEDTEXT end.[AR1]")));
        }
    }

    // Namesakes of one run each keep a page of their own, with their own text and pictures:
    // the first its name, the later ones "name (2).htm" and on, in the list's order, whether
    // or not the earlier ones converted; alike with converting ahead on and off. Each source
    // is "folder/file"; a page of "" marks a document that fails.
    void namesakesKeepTheirPages_data()
    {
        QTest::addColumn<QStringList>("sources");
        QTest::addColumn<QStringList>("pages");
        QTest::addColumn<int>("ahead");
        const bool ignoresCase = fs::namesIgnoreCase(m_work.path());
        for (const int ahead : {0, 2}) {
            QTest::addRow("two folders, ahead %d", ahead)
                << QStringList{"a/report.docx", "b/report.docx"}
                << QStringList{"report.htm", "report (2).htm"} << ahead;
            QTest::addRow("two extensions, ahead %d", ahead)
                << QStringList{"c/same.docx", "c/same.doc"}
                << QStringList{"same.htm", "same (2).htm"} << ahead;
            QTest::addRow("case, ahead %d", ahead)
                << QStringList{"d/Case.docx", "e/case.docx"}
                << QStringList{"Case.htm", ignoresCase ? "case (2).htm" : "case.htm"} << ahead;
            QTest::addRow("three of a kind, ahead %d", ahead)
                << QStringList{"f/three.docx", "g/three.rtf", "h/three.docx"}
                << QStringList{"three.htm", "three (2).htm", "three (3).htm"} << ahead;
            QTest::addRow("the first fails, ahead %d", ahead)
                << QStringList{"i/broken.docx", "j/broken.docx", "k/broken.docx"}
                << QStringList{"", "broken (2).htm", "broken (3).htm"} << ahead;
        }
    }

    void namesakesKeepTheirPages()
    {
        QFETCH(QStringList, sources);
        QFETCH(QStringList, pages);
        QFETCH(int, ahead);
        const QString root =
            m_work.filePath(QStringLiteral("namesakes/") + QTest::currentDataTag());
        const auto text = [](qsizetype k) {
            return QStringLiteral("Words of document %1 here").arg(k);
        };
        test::TestPlatform platform;
        Platform services = platform.services();
        LibreOfficeOptions options;
        options.profileRoot = m_work.filePath(QStringLiteral("namesake-profiles"));
        options.aheadInstances = ahead;
        const auto engine = makeLibreOfficeAutomation(options);
        services.automation = engine.get();
        Form1 form(services);
        form.Form_Load();
        for (qsizetype k = 0; k < sources.size(); ++k) {
            const QString path = root + u'/' + sources[k];
            QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
            if (pages[k].isEmpty())
                touchFile(path, "PK\x03\x04 not a package");
            else if (path.endsWith(QLatin1String(".doc")))
                QVERIFY(QFile::copy(m_own + QStringLiteral("/own.doc"), path));
            else if (path.endsWith(QLatin1String(".rtf")))
                touchFile(path, "{\\rtf1\\ansi{\\pard " + text(k).toLatin1() + "\\par}}");
            else
                writeWordPackage(
                    path,
                    QStringLiteral("<w:p><w:r><w:t>%1</w:t></w:r></w:p>").arg(text(k)) +
                        kPictureParagraph,
                    {redPicture(QColor::fromHsv(int(k) * 60, 255, 255))});
            form.documents().AddDocument(path);
        }
        const QString out = root + QStringLiteral("/out");
        const QStringList boxes = startInto(form, platform, out, "Option2");
        QCOMPARE(boxes.size(), pages.count(QString()) + 1);
        QCOMPARE(boxes.last(), QStringLiteral("Done."));

        QStringList expected;
        for (qsizetype k = 0; k < sources.size(); ++k) {
            if (pages[k].isEmpty())
                continue;
            expected << pages[k];
            const QString page = out + u'/' + pages[k];
            const QString shown = ReadHtmlPage(readBytes(page)).visibleText.simplified();
            QVERIFY2(
                shown.contains(sources[k].endsWith(QLatin1String(".doc")) ? kOwnText : text(k)),
                qPrintable(pages[k] + u':' + shown));
            if (sources[k].endsWith(QLatin1String(".docx")))
                QCOMPARE(picturesThatLoad(page), 1);
        }
        expected.sort();
        QCOMPARE(QDir(out).entryList({QStringLiteral("*.htm")}, QDir::Files, QDir::Name), expected);
    }

    // A run converting ahead writes exactly what a run converting each document at its turn
    // writes, and fails where it fails with the same words, while the user reorders the list,
    // switches the flavour after the plan was made, and rewrites a document made ahead.
    // Ending the batch in the middle leaves no instance and no staging behind.
    void convertingAheadChangesNoOutput()
    {
        QStringList now, ahead;
        runWithPlans(0, QStringLiteral("at-each-turn"), now);
        runWithPlans(2, QStringLiteral("made-ahead"), ahead);
        QCOMPARE(ahead, now);
        QCOMPARE(now.size(), 5); // four pages, one failure
        QVERIFY(now[3].startsWith(QStringLiteral("changing.htm\n")));
        QVERIFY(now[3].contains(QStringLiteral("Rewritten during the run")));
        QVERIFY(now[4].contains(QStringLiteral("bad.docx")));
    }

    // A document past its time limit ahead (where others convert beside it) is converted
    // again at its turn, alone, once; only the limit reached then is reported. (No real load
    // takes 20 ms.)
    void timeLimitAheadIsTriedAgainAlone()
    {
        LibreOfficeOptions options;
        options.profileRoot = m_work.filePath(QStringLiteral("limit-profiles"));
        options.documentTimeLimit = std::chrono::milliseconds(20);
        options.aheadInstances = 2;
        const auto engine = makeLibreOfficeAutomation(options);
        const QString source = m_own + QStringLiteral("/own.docx");
        const QString page = m_out + QStringLiteral("/limited.htm");
        std::optional<TurnInstances> atTurn(std::in_place);
        engine->beginBatch();
        engine->planAhead({{source, page, HtmlNormal}});
        QString failed;
        try {
            ExportDocument(
                engine.get(), [] { return std::optional<int>(HtmlNormal); }, source, page);
        } catch (const Failure& failure) {
            failed = failure.description();
        }
        engine->endBatch();
        const int started = atTurn->count();
        atTurn.reset();
        QCOMPARE(failed, QStringLiteral("LibreOffice did not finish converting own.docx within 0 "
                                        "seconds and was stopped."));
        QCOMPARE(started, 1);
        QVERIFY(!QFile::exists(page));
    }

    // A program killed in the middle of a run takes its instances with it, those converting
    // ahead too. What they leave (staging in the output folder, pipe sockets, temporary
    // files) is removed when the program next starts; a run that ends leaves nothing.
    void instanceDiesWithItsProgram()
    {
        const QString root = m_work.filePath(QStringLiteral("killed-profiles"));
        const QString out = m_work.filePath(QStringLiteral("killed-out"));
        QVERIFY(QDir().mkpath(out));
        const QStringList before = leftBehind(root);
        QProcess holder;
        holder.start(QStringLiteral(HOLDINSTANCE),
                     {root, m_own + QStringLiteral("/own.docx"), out});
        QVERIFY(holder.waitForReadyRead(60000));
        QCOMPARE(holder.readLine().trimmed(), QByteArray("ready"));
        const auto staging = [&] {
            return QDir(out).entryList({QStringLiteral(".docuflume-*")}, QDir::Dirs | QDir::Hidden);
        };
        // Two converting ahead (as many as it may), the third waiting for room.
        QCOMPARE(staging().size(), 2);
        QVERIFY(!officeProcesses(root).isEmpty());
        holder.kill(); // no chance to clean up
        QVERIFY(holder.waitForFinished());
        QTRY_COMPARE(officeProcesses(root), QList<qint64>());
        QCOMPARE(staging().size(), 2);
        QVERIFY(leftBehind(root) != before);

        LibreOfficeOptions options;
        options.profileRoot = root;
        auto next = makeLibreOfficeAutomation(options);
        QCOMPARE(staging(), QStringList());
        QCOMPARE(leftBehind(root), before);
        // Converted at its turn (nothing planned), its instance is still ending when the
        // window closes.
        next->beginBatch();
        ExportDocument(
            next.get(), [] { return std::optional<int>(HtmlNormal); },
            m_own + QStringLiteral("/own.rtf"), out + QStringLiteral("/after.htm"));
        // The window closes now: the instance still ending goes, and leaves nothing.
        next->endNow();
        QCOMPARE(officeProcesses(root), QList<qint64>());
        QCOMPARE(leftBehind(root), before);
        next.reset();
        QVERIFY(QFile::exists(out + QStringLiteral("/after.htm")));
        QCOMPARE(staging(), QStringList());
        QCOMPARE(leftBehind(root), before);
    }

    void startupCheckAndRunningOffice()
    {

        auto* word = m_engine.get();
        test::RecordingPrompts prompts;
        QVERIFY(CheckWordInstalled(word, prompts, nullptr, QStringLiteral("Docuflume")));
        QVERIFY(prompts.messages.isEmpty());
        if (IsWordRunning(word))
            QSKIP("a LibreOffice of this user is running already");
        // An office the user runs, with a profile that is not one of ours. On a fresh profile
        // the office only sets it up and ends at once, so it is started twice.
        const QStringList arguments = {
            QStringLiteral("--headless"), QStringLiteral("--norestore"),
            QStringLiteral("-env:UserInstallation=") +
                QUrl::fromLocalFile(m_work.filePath(QStringLiteral("user"))).toString()};
        const QString office = office::Installation::find()->executable();
        QProcess::execute(office, arguments);
        QProcess user;
        // Killed below, it leaves its temporary files and its pipe's socket: the first
        // where the test can find them.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("TMPDIR"),
                           office::temporaryFolder(m_work.filePath(QStringLiteral("user"))));
        QVERIFY(QDir().mkpath(environment.value(QStringLiteral("TMPDIR"))));
        user.setProcessEnvironment(environment);
        user.start(office, arguments);
        QVERIFY(user.waitForStarted());
        QVERIFY(IsWordRunning(word));
        QTest::qWait(500);
        QCOMPARE(user.state(), QProcess::Running);
        user.kill();
        user.waitForFinished();
        QVERIFY(!IsWordRunning(word));
        office::tidyProfile(m_work.filePath(QStringLiteral("user")));
    }

    // (Last, so that the instance its batch keeps ready is not taken for the user's office
    // by the tests before it.)
    // Every corpus document through the engine, in both flavours, against LibreOffice's own
    // command line on the same file: what the command line converts converts here too, with
    // the same visible text and the same pictures beside the page; what the engine refuses
    // is named above.
    void corpusAsTheCommandLine_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("format");
        if (!QFileInfo::exists(kCorpus)) {
            QTest::newRow("no corpus") << QString() << 0;
            return;
        }
        for (const QString& name : QDir(kCorpus).entryList(QDir::Files, QDir::Name)) {
            if (name.endsWith(QLatin1String(".tsv")))
                continue;
            QTest::addRow("%s normal", qPrintable(name)) << name << int(HtmlNormal);
            QTest::addRow("%s filtered", qPrintable(name)) << name << int(HtmlFiltered);
        }
    }

    void corpusAsTheCommandLine()
    {
        QFETCH(QString, name);
        QFETCH(int, format);
        if (name.isEmpty())
            QSKIP("the shared corpus is not here");
        const QString cli = commandLinePage(name);
        if (QTest::currentTestFailed())
            return;
        const QString out = m_work.filePath(QStringLiteral("gate-%1").arg(format));
        QVERIFY(QDir().mkpath(out));
        const QString output = out + u'/' + name + QStringLiteral(".htm");
        if (!m_gateEngine) {
            LibreOfficeOptions options;
            options.profileRoot = m_work.filePath(QStringLiteral("gate-profiles"));
            m_gateEngine = makeLibreOfficeAutomation(options);
            m_gateEngine->beginBatch();
        }
        QString refusal;
        try {
            ExportDocument(
                m_gateEngine.get(), [&] { return std::optional<int>(format); },
                kCorpus + u'/' + name, output);
        } catch (const Failure& failure) {
            refusal = failure.description();
        }
        if (kRefused.contains(name)) {
            QVERIFY2(!refusal.isEmpty(), "converts now: take it off the list of refusals");
            QVERIFY(!QFile::exists(output));
            return;
        }
        QVERIFY2(refusal.isEmpty(), qPrintable(refusal));

        const QByteArray page = readBytes(output);
        if (cli.isEmpty())
            return; // the command line wrote nothing to compare with
        const QByteArray theirPage = readBytes(cli);
        // Changes and comments are marked well, and what the office shows is all there.
        const PageMarks marks = readMarks(page);
        QVERIFY(marks.linked && !marks.blockInside);
        QCOMPARE(marks.marks.isEmpty(), marks.comments.isEmpty());
        const QStringList ours = visibleWords(withoutComments(page));
        const QStringList theirs = visibleWords(theirPage);
        const int differing = wordsNotShared(ours, theirs);
        QVERIFY2(
            differing <= 0.01 * qMax(ours.size(), theirs.size()),
            qPrintable(QStringLiteral("%1 of %2 words differ").arg(differing).arg(theirs.size())));
        QCOMPARE(picturesThatLoad(output), picturesThatLoad(cli));
    }

    // A document of a million words converts through the window in both flavours, well
    // within the time limit, and its page shows every word.
    void millionWordsThroughTheWindow()
    {
        const QString paragraph =
            QStringLiteral("<w:p><w:r><w:t>%1</w:t></w:r></w:p>")
                .arg(QStringLiteral("keeper of the northern coast ").repeated(10).trimmed());
        const QString source = m_own + QStringLiteral("/million.docx");
        writeWordPackage(source, paragraph.repeated(20'000)); // 50 words each
        QStringList boxes;
        const QStringList folders = convertThroughTheWindow(source, boxes);
        QCOMPARE(boxes, (QStringList{QStringLiteral("Done."), QStringLiteral("Done.")}));
        for (const QString& out : folders) {
            QCOMPARE(CountWords(
                         ReadHtmlPage(readBytes(out + QStringLiteral("/million.htm"))).visibleText),
                     qsizetype(1'000'000));
        }
    }

    // Every page of the gate's run, opened in a real browser from where its folder was
    // moved to, as pages are published: each picture loads.
    void gatePagesShowTheirPictures()
    {
        if (!QFileInfo::exists(kCorpus))
            QSKIP("the shared corpus is not here");
        m_gateEngine.reset();
        int shown = 0;
        for (const int format : {int(HtmlNormal), int(HtmlFiltered)})
            shown += picturesShownWhenMoved(m_work.filePath(QStringLiteral("gate-%1").arg(format)));
        QVERIFY(shown >= 6); // having-images.docx alone shows three in each flavour
    }

    // The samples, converted through the real window in both flavours, read the same way.
    void samplesShowTheirPicturesThroughTheWindow()
    {
        test::TestPlatform platform;
        Platform services = platform.services();
        services.automation = m_engine.get();
        services.programFolder = QStringLiteral(QT_TESTCASE_SOURCEDIR "/..");
        Form1 form(services);
        form.Form_Load();
        platform.prompts.messageAnswers = {MessageAnswer::No}; // not the samples' folder
        form.findChild<QPushButton*>(QStringLiteral("PushButton5"))->click();
        QCOMPARE(form.documents().DocumentCount(), 4);
        int shown = 0;
        for (const char* flavour : {"Option1", "Option2"}) {
            const QString out =
                m_work.filePath(QStringLiteral("samples-") + QLatin1String(flavour));
            QCOMPARE(startInto(form, platform, out, flavour), QStringList{QStringLiteral("Done.")});
            shown += picturesShownWhenMoved(out);
        }
        QCOMPARE(shown, 2); // the report's picture, in each flavour
    }

private:
    // Presses Start with the list as it is, into `out` (made here) in the flavour of the
    // option button named; returns the boxes with only OK that the run showed.
    // Converts one document through the window in each flavour: the output folders, Normal
    // first, with every box shown gathered in `boxes`.
    QStringList convertThroughTheWindow(const QString& source, QStringList& boxes)
    {
        test::TestPlatform platform;
        Platform services = platform.services();
        services.automation = m_engine.get();
        Form1 form(services);
        form.Form_Load();
        form.documents().AddDocument(source);
        QStringList folders;
        for (const char* flavour : {"Option1", "Option2"}) {
            folders << m_work.filePath(QFileInfo(source).completeBaseName() + u'-' +
                                       QLatin1String(flavour));
            boxes << startInto(form, platform, folders.last(), flavour);
        }
        return folders;
    }

    QStringList startInto(Form1& form, test::TestPlatform& platform, const QString& out,
                          const char* flavour)
    {
        QDir().mkpath(out);
        form.findChild<QLineEdit*>(QStringLiteral("Text1"))->setText(out);
        form.findChild<QRadioButton*>(QLatin1String(flavour))->setChecked(true);
        platform.prompts.messages.clear();
        // A LibreOffice the user has open makes the run ask first; the test goes on.
        if (IsWordRunning(m_engine.get()))
            platform.prompts.messageAnswers = {MessageAnswer::Yes};
        form.findChild<QPushButton*>(QStringLiteral("PushButton2"))->click();
        QStringList boxes;
        for (const MessageRequest& box : platform.prompts.messages) {
            if (box.buttons == MessageButtons::Ok)
                boxes << box.text;
        }
        return boxes;
    }

    // Moves a folder of pages elsewhere and opens each of them in the browser there: every
    // picture must load. Returns how many did.
    int picturesShownWhenMoved(const QString& folder)
    {
        const QString moved =
            m_work.filePath(QStringLiteral("published/")) + QFileInfo(folder).fileName();
        [&] {
            QVERIFY(QDir().mkpath(QFileInfo(moved).absolutePath()));
            QVERIFY2(QDir().rename(folder, moved), qPrintable(folder));
        }();
        QStringList pages;
        for (const QString& name : QDir(moved).entryList({QStringLiteral("*.htm")}, QDir::Files))
            pages << moved + u'/' + name;
        QString error;
        const auto seen = test::PicturesInBrowser(pages, &error);
        if (!seen) {
            QTest::qFail(qPrintable(error), __FILE__, __LINE__);
            return 0;
        }
        int shown = 0;
        QStringList broken;
        for (auto page = seen->cbegin(); page != seen->cend(); ++page) {
            shown += page->shown;
            for (const QString& url : page->broken) {
                // A picture the document links to that is not on this machine is the
                // document's own (external-picture.docx links to a file it does not ship).
                const QString file = QUrl(url).toLocalFile();
                if (!file.isEmpty() && !IsWithin(file, moved) && !QFileInfo::exists(file))
                    continue;
                broken << QFileInfo(page.key()).fileName() + QStringLiteral(": ") + url;
            }
        }
        if (!broken.isEmpty())
            QTest::qFail(
                qPrintable(QStringLiteral("%1 pictures do not load:\n").arg(broken.size()) +
                           broken.join(u'\n')),
                __FILE__, __LINE__);
        return shown;
    }

    // The pages (name and text) and failures of a run that plans as the Start button does
    // while the user changes things, in an engine converting `aheadInstances` ahead.
    void runWithPlans(int aheadInstances, const QString& name, QStringList& result)
    {
        const QString sources = m_work.filePath(name + QStringLiteral("-sources"));
        QVERIFY(QDir().mkpath(sources));
        for (const auto& [from, to] : {std::pair{"own.rtf", "a.rtf"},
                                       {"own.doc", "b.doc"},
                                       {"own.docx", "c.docx"},
                                       {"own.rtf", "changing.rtf"}})
            QVERIFY(QFile::copy(m_own + u'/' + QLatin1String(from),
                                sources + u'/' + QLatin1String(to)));
        touchFile(sources + QStringLiteral("/bad.docx"), "PK\x03\x04 not a package");
        const auto doc = [&](const char* file) { return sources + u'/' + QLatin1String(file); };

        LibreOfficeOptions options;
        options.profileRoot = m_work.filePath(QStringLiteral("ahead-profiles"));
        options.aheadInstances = aheadInstances;
        const auto engine = makeLibreOfficeAutomation(options);
        const QString out = m_work.filePath(name);
        QVERIFY(QDir().mkpath(out));
        QStringList failures;
        const auto plan = [&](std::initializer_list<std::pair<const char*, int>> next) {
            QList<PlannedExport> list;
            for (const auto& [file, format] : next)
                list.append({doc(file), HtmlOutputPath(out, doc(file)), format});
            engine->planAhead(list);
        };
        const auto convert = [&](const char* file, int format) {
            try {
                ExportDocument(
                    engine.get(), [format] { return std::optional<int>(format); }, doc(file),
                    HtmlOutputPath(out, doc(file)));
            } catch (const Failure& failure) {
                failures << failure.description();
            }
        };
        // Until the page of `file` is being made ahead, so that the change comes after.
        const auto beingMade = [&](const char* file) {
            const QString page = QFileInfo(HtmlOutputPath(out, doc(file))).fileName();
            const auto staged = [&] {
                for (const QString& staging : QDir(out).entryList({QStringLiteral(".docuflume-*")},
                                                                  QDir::Dirs | QDir::Hidden)) {
                    if (QFile::exists(out + u'/' + staging + u'/' + page))
                        return true;
                }
                return false;
            };
            if (aheadInstances > 0)
                QTRY_VERIFY_WITH_TIMEOUT(staged(), 60000);
        };

        std::optional<TurnInstances> atTurn(std::in_place);
        engine->beginBatch();
        plan({{"a.rtf", HtmlNormal},
              {"b.doc", HtmlNormal},
              {"c.docx", HtmlNormal},
              {"bad.docx", HtmlNormal}});
        convert("a.rtf", HtmlNormal);
        // The user moves c.docx up and switches to Filtered.
        plan({{"c.docx", HtmlFiltered},
              {"b.doc", HtmlFiltered},
              {"bad.docx", HtmlFiltered},
              {"changing.rtf", HtmlFiltered}});
        convert("c.docx", HtmlFiltered);
        plan({{"b.doc", HtmlFiltered}, {"bad.docx", HtmlFiltered}, {"changing.rtf", HtmlFiltered}});
        beingMade("b.doc");
        // Back to Normal after the plan was made: made for the other flavour, so made again.
        convert("b.doc", HtmlNormal);
        beingMade("changing.rtf");
        touchFile(doc("changing.rtf"), "{\\rtf1\\ansi{\\pard Rewritten during the run\\par}}");
        plan({{"bad.docx", HtmlFiltered}, {"changing.rtf", HtmlFiltered}});
        convert("bad.docx", HtmlFiltered);
        plan({{"changing.rtf", HtmlFiltered}});
        convert("changing.rtf", HtmlFiltered);
        // The window closes in the middle of a run with more planned.
        plan({{"a.rtf", HtmlNormal}, {"b.doc", HtmlNormal}, {"c.docx", HtmlNormal}});
        engine->endBatch();

        for (const QString& file :
             QDir(out).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot))
            result << file + u'\n' + readAll(out + u'/' + file);
        const int started = atTurn->count();
        atTurn.reset();
        // Ahead, each document is converted once: the one refused ahead fails at its turn
        // with no second try; only the one made for another flavour and the one rewritten
        // during the run are converted again.
        if (aheadInstances > 0)
            QCOMPARE(started, 2);
        result << failures;
        QTRY_COMPARE(officeProcesses(options.profileRoot), QList<qint64>());
    }

    void makeBadDocuments()
    {
        const QString own = m_own + u'/';
        if (QFile::exists(own + QStringLiteral("zero.docx")))
            return;
        touchFile(own + QStringLiteral("zero.docx"), {});
        QByteArray random(20000, Qt::Uninitialized);
        for (char& byte : random)
            byte = char(QRandomGenerator::global()->bounded(256));
        touchFile(own + QStringLiteral("random.doc"), random);
        touchFile(own + QStringLiteral("text.doc"), "Grüße aus Köln, nur Text.\n");
        touchFile(own + QStringLiteral("text.rtf"), "Just text, no RTF at all.\n");
        QImage picture(64, 64, QImage::Format_RGB32);
        picture.fill(Qt::red);
        picture.save(own + QStringLiteral("picture.png"));
        QFile::copy(own + QStringLiteral("picture.png"), own + QStringLiteral("picture.docx"));
        QFile real(own + QStringLiteral("own.docx"));
        QVERIFY(real.open(QIODevice::ReadOnly));
        touchFile(own + QStringLiteral("truncated.docx"),
                  real.readAll().left(int(real.size() / 2)));
        writeWordPackage(own + kHtmlChunkName, kChunkBody, {kHtmlChunk});
    }

    // The page LibreOffice's command line writes for a corpus document, or nothing when it
    // writes none. It converts the whole corpus once, one folder per extension (a.doc and
    // a.rtf would both become a.html), from a profile of its own that holds no setting of
    // ours, as on a user's machine.
    QString commandLinePage(const QString& name)
    {
        const QString folder = m_work.filePath(QStringLiteral("cli"));
        if (!QFileInfo::exists(folder)) {
            const auto installation = office::Installation::find();
            const QString profile = m_work.filePath(QStringLiteral("cli-profile"));
            QMap<QString, QStringList> byExtension;
            for (const QString& file : QDir(kCorpus).entryList(QDir::Files))
                byExtension[QFileInfo(file).suffix().toLower()] << kCorpus + u'/' + file;
            byExtension.remove(QStringLiteral("tsv"));
            for (auto group = byExtension.cbegin(); group != byExtension.cend(); ++group) {
                QProcess convert;
                convert.start(installation->programFolder + QStringLiteral("/soffice"),
                              QStringList{QStringLiteral("--headless"),
                                          QStringLiteral("--norestore"),
                                          QStringLiteral("-env:UserInstallation=") +
                                              QUrl::fromLocalFile(profile).toString(),
                                          QStringLiteral("--convert-to"), QStringLiteral("html"),
                                          QStringLiteral("--outdir"), folder + u'/' + group.key()} +
                                  group.value());
                if (!convert.waitForFinished(400000))
                    QTest::qFail("the command line did not finish", __FILE__, __LINE__);
            }
        }
        const QFileInfo document(name);
        const QString page = folder + u'/' + document.suffix().toLower() + u'/' +
                             document.completeBaseName() + QStringLiteral(".html");
        return QFileInfo::exists(page) ? page : QString();
    }

    // What offices leave behind them: their temporary files (in the profiles' folders, or
    // the system's), and sockets of pipes no office listens on any more.
    static QStringList leftBehind(const QString& root)
    {
        QStringList found;
        for (const QString& slot :
             QDir(root).entryList({QStringLiteral("profile-*")}, QDir::Dirs)) {
            const QString tmp = root + u'/' + slot + QStringLiteral("/tmp");
            for (const QString& name :
                 QDir(tmp).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot))
                found << tmp + u'/' + name;
        }
        const QDir system(QStringLiteral("/tmp"));
        for (const QString& name : system.entryList({QStringLiteral("lu*.tmp")}, QDir::AllEntries))
            found << system.filePath(name);
        for (const QString& name :
             system.entryList({QStringLiteral("OSL_PIPE_*")}, QDir::System | QDir::Files)) {
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            const QByteArray path = QFile::encodeName(system.filePath(name));
            std::memcpy(address.sun_path, path.constData(),
                        std::min(sizeof address.sun_path - 1, size_t(path.size())));
            const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 &&
                errno == ECONNREFUSED)
                found << system.filePath(name);
            ::close(fd);
        }
        found.sort();
        return found;
    }

    bool noStagingLeft() const
    {
        return QDir(m_out)
            .entryList({QStringLiteral(".docuflume-*")}, QDir::AllEntries | QDir::Hidden)
            .isEmpty();
    }

    QTemporaryDir m_work;
    QStringList m_leftAtStart;
    QString m_root;
    QString m_out;
    QString m_own;
    std::unique_ptr<WordAutomation> m_engine;
    std::unique_ptr<WordAutomation> m_gateEngine; // within one batch, as a run converts
};

QTEST_MAIN(TestLibreOffice)
#include "tst_libreoffice.moc"
