#include "convert/pages/HtmlPage.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>

#include <libxml/HTMLparser.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlsave.h>

#include <memory>
#include <mutex>

namespace docuflume {
namespace {

// (XML_PARSE_HUGE lifts the parser's limit of 256 nested elements, past which it stops
// without a word; a page of deeply nested lists is read whole then.)
constexpr int kHtmlOptions = HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING |
                             HTML_PARSE_NONET | XML_PARSE_HUGE;

struct DocFree
{
    void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
using Doc = std::unique_ptr<xmlDoc, DocFree>;

QString text(const xmlChar* value)
{
    return value ? QString::fromUtf8(reinterpret_cast<const char*>(value)) : QString();
}

bool named(const xmlNode* node, const char* name)
{
    return node->name && xmlStrcasecmp(node->name, BAD_CAST name) == 0;
}

QString attribute(const xmlNode* node, const char* name)
{
    xmlChar* value = xmlGetProp(node, BAD_CAST name);
    QString result = text(value);
    xmlFree(value);
    return result;
}

QString content(const xmlNode* node)
{
    xmlChar* value = xmlNodeGetContent(node);
    QString result = text(value);
    xmlFree(value);
    return result;
}

// The encoding an XML declaration names: the declaration alone, read by the XML parser.
QByteArray xmlDeclarationEncoding(const xmlNode* declaration)
{
    // The HTML parser ends the declaration at its ">", so its "?" is part of the content.
    const QByteArray source = "<?xml " + content(declaration).toUtf8() + "><r/>";
    const Doc doc(xmlReadMemory(source.constData(), int(source.size()), nullptr, nullptr,
                                XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_NONET));
    return doc && doc->encoding ? QByteArray(reinterpret_cast<const char*>(doc->encoding))
                                : QByteArray();
}

struct ContextFree
{
    void operator()(htmlParserCtxt* context) const { htmlFreeParserCtxt(context); }
};

// A page parsed whole or in part, with the encoding it declares.
struct Parsed
{
    Doc doc;
    QByteArray declaredEncoding;
    bool whole = false;
};

Doc parseWith(const QByteArray& bytes, const char* encoding, bool& whole)
{
    const std::unique_ptr<htmlParserCtxt, ContextFree> context(htmlNewParserCtxt());
    if (!context)
        return nullptr;
    Doc doc(htmlCtxtReadMemory(context.get(), bytes.constData(), int(bytes.size()), nullptr,
                               encoding, kHtmlOptions));
    // A parser that gave up (a limit, or no memory) stops taking what it reads.
    whole = doc && !context->disableSAX;
    return doc;
}

Parsed parse(const QByteArray& bytes)
{
    Parsed parsed;
    if (bytes.isEmpty())
        return parsed;
    parsed.doc = parseWith(bytes, nullptr, parsed.whole);
    if (!parsed.doc)
        return parsed;
    if (parsed.doc->encoding) {
        parsed.declaredEncoding = reinterpret_cast<const char*>(parsed.doc->encoding);
        return parsed;
    }
    // The HTML parser reads an XML declaration as a processing instruction only.
    for (const xmlNode* node = parsed.doc->children; node; node = node->next) {
        if (node->type == XML_PI_NODE && named(node, "xml")) {
            parsed.declaredEncoding = xmlDeclarationEncoding(node);
            break;
        }
        if (node->type == XML_ELEMENT_NODE)
            break;
    }
    if (!parsed.declaredEncoding.isEmpty())
        parsed.doc = parseWith(bytes, parsed.declaredEncoding.constData(), parsed.whole);
    return parsed;
}

// The attributes of an element that name a file it loads, whole (src, data, href of a style
// sheet, background); a style attribute's CSS is read apart.
QList<const char*> referenceAttributes(const xmlNode* node)
{
    QList<const char*> found;
    if (named(node, "img") || named(node, "embed") || named(node, "script"))
        found << "src";
    if (named(node, "object"))
        found << "data";
    if (named(node, "link")) {
        const QStringList relations =
            attribute(node, "rel").toLower().split(u' ', Qt::SkipEmptyParts);
        if (relations.contains(QLatin1String("stylesheet")))
            found << "href";
    }
    if (xmlHasProp(node, BAD_CAST "background"))
        found << "background";
    return found;
}

struct CssUrl
{
    QString url;
    qsizetype begin; // where its url( starts in the CSS
    qsizetype end;   // just past its closing parenthesis
};
QList<CssUrl> cssUrls(const QString& css);

// The CSS with its urls replaced by what `relink` gives; nothing when none changes.
std::optional<QString>
relinkCss(const QString& css, const std::function<std::optional<QString>(const QString&)>& relink)
{
    QString result;
    qsizetype done = 0;
    bool changed = false;
    for (const CssUrl& found : cssUrls(css)) {
        const std::optional<QString> url = relink(found.url);
        if (!url)
            continue;
        QString quoted;
        for (const QChar c : *url) {
            if (c == u'"' || c == u'\\')
                quoted += u'\\' + QString(c);
            else if (c == u'\n')
                quoted += QStringLiteral("\\a ");
            else
                quoted += c;
        }
        result += QStringView(css).mid(done, found.begin - done);
        result += QStringLiteral("url(\"") + quoted + QStringLiteral("\")");
        done = found.end;
        changed = true;
    }
    if (!changed)
        return std::nullopt;
    return result + css.mid(done);
}

// The file in the page's own folder that a url names, as a browser resolves it against
// the page; nothing when it names a file elsewhere or a resource of another kind.
QString localFile(const QString& url)
{
    const QString folder = QStringLiteral("/page-folder");
    const std::optional<LocalTarget> target =
        ResolveLocalUrl(url, folder + QStringLiteral("/page.htm"));
    if (!target || target->absolute || QFileInfo(target->path).absolutePath() != folder)
        return {};
    return QFileInfo(target->path).fileName();
}

class Reader
{
public:
    explicit Reader(HtmlPage& page) : m_page(page) {}

    void walk(const xmlNode* node, bool inPre)
    {
        for (; node; node = node->next) {
            switch (node->type) {
            case XML_TEXT_NODE:
                addText(text(node->content), inPre);
                break;
            case XML_ELEMENT_NODE:
                element(node, inPre);
                break;
            default: // comments, processing instructions, the doctype
                break;
            }
        }
    }

    void finish() { endLine(); }

private:
    void element(const xmlNode* node, bool inPre)
    {
        references(node);
        if (named(node, "style")) {
            for (const QString& url : CssUrls(content(node)))
                addFile(url);
            return;
        }
        if (named(node, "head") || named(node, "script") || named(node, "title") ||
            named(node, "noscript") || named(node, "template"))
            return;
        if (named(node, "br")) {
            endLine();
            return;
        }
        const bool block = isBlock(node);
        if (block)
            endLine();
        walk(node->children, inPre || named(node, "pre"));
        if (block)
            endLine();
    }

    void references(const xmlNode* node)
    {
        for (const char* name : referenceAttributes(node))
            addFile(attribute(node, name));
        if (xmlHasProp(node, BAD_CAST "style")) {
            for (const QString& url : CssUrls(attribute(node, "style")))
                addFile(url);
        }
    }

    static bool isBlock(const xmlNode* node)
    {
        static const char* const blocks[] = {
            "address",    "article", "aside",  "blockquote", "body",  "caption", "center",
            "dd",         "details", "dir",    "div",        "dl",    "dt",      "fieldset",
            "figcaption", "figure",  "footer", "form",       "h1",    "h2",      "h3",
            "h4",         "h5",      "h6",     "header",     "hr",    "html",    "li",
            "main",       "menu",    "nav",    "ol",         "p",     "pre",     "section",
            "summary",    "table",   "tbody",  "td",         "tfoot", "th",      "thead",
            "tr",         "ul"};
        for (const char* block : blocks) {
            if (named(node, block))
                return true;
        }
        return false;
    }

    void addText(const QString& piece, bool inPre)
    {
        if (inPre) {
            for (const QChar c : piece) {
                if (c == u'\n')
                    endLine();
                else
                    m_line += c;
            }
            return;
        }
        // Runs of ASCII white space show as one space; a no-break space stays.
        for (const QChar c : piece) {
            if (c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\f') {
                m_pendingSpace = !m_line.isEmpty();
            } else {
                if (m_pendingSpace)
                    m_line += u' ';
                m_pendingSpace = false;
                m_line += c;
            }
        }
    }

    void endLine()
    {
        m_pendingSpace = false;
        if (m_line.isEmpty())
            return;
        if (!m_page.visibleText.isEmpty())
            m_page.visibleText += u'\n';
        m_page.visibleText += m_line;
        m_line.clear();
    }

    void addFile(const QString& url)
    {
        if (!url.trimmed().isEmpty())
            m_page.urls << url;
        const QString name = localFile(url);
        if (!name.isEmpty() && !m_page.localFiles.contains(name))
            m_page.localFiles << name;
    }

    HtmlPage& m_page;
    QString m_line;
    bool m_pendingSpace = false;
};

} // namespace

std::optional<LocalTarget> ResolveLocalUrl(QString url, const QString& pagePath)
{
    url = url.trimmed();
    // What a browser drops from a url before reading it.
    url.remove(u'\t').remove(u'\n').remove(u'\r');
    if (url.isEmpty() || url.startsWith(u'#'))
        return std::nullopt;
    // For file urls a browser reads a backslash as a slash.
    url.replace(u'\\', u'/');
    const QUrl reference(url, QUrl::TolerantMode);
    if (!reference.isValid())
        return std::nullopt;
    const QUrl resolved = QUrl::fromLocalFile(pagePath).resolved(reference);
    // A file url with a host names a file on another machine.
    if (!resolved.isLocalFile() || !resolved.host().isEmpty())
        return std::nullopt;
    return LocalTarget{QDir::cleanPath(resolved.toLocalFile()),
                       !reference.isRelative() || url.startsWith(u'/')};
}

bool IsWithin(const QString& path, const QString& folder)
{
    return path == folder || path.startsWith(folder.endsWith(u'/') ? folder : folder + u'/');
}

void InitialiseXmlParser()
{
    static std::once_flag initialised;
    std::call_once(initialised, [] { xmlInitParser(); });
}

qsizetype CountWords(QStringView text)
{
    qsizetype words = 0;
    bool inWord = false;
    for (const QChar c : text) {
        const bool space = c.isSpace();
        if (!space && !inWord)
            ++words;
        inWord = !space;
    }
    return words;
}

HtmlPage ReadHtmlPage(const QByteArray& bytes)
{
    InitialiseXmlParser();

    HtmlPage page;
    const Parsed parsed = parse(bytes);
    if (!parsed.doc)
        return page;
    page.declaredEncoding = parsed.declaredEncoding;
    page.whole = parsed.whole;
    Reader reader(page);
    reader.walk(parsed.doc->children, false);
    reader.finish();
    return page;
}

namespace {

bool relinkElements(xmlNode* node,
                    const std::function<std::optional<QString>(const QString&)>& relink)
{
    bool changed = false;
    for (; node; node = node->next) {
        if (node->type != XML_ELEMENT_NODE)
            continue;
        for (const char* name : referenceAttributes(node)) {
            if (const auto url = relink(attribute(node, name))) {
                xmlSetProp(node, BAD_CAST name, BAD_CAST url->toUtf8().constData());
                changed = true;
            }
        }
        if (xmlHasProp(node, BAD_CAST "style")) {
            if (const auto css = relinkCss(attribute(node, "style"), relink)) {
                xmlSetProp(node, BAD_CAST "style", BAD_CAST css->toUtf8().constData());
                changed = true;
            }
        }
        if (named(node, "style")) {
            if (const auto css = relinkCss(content(node), relink)) {
                // Its text is written as it stands, as a style element's is.
                xmlNodeSetContentLen(node, nullptr, 0);
                const QByteArray text = css->toUtf8();
                xmlAddChild(node, xmlNewTextLen(BAD_CAST text.constData(), int(text.size())));
                changed = true;
            }
            continue;
        }
        changed = relinkElements(node->children, relink) || changed;
    }
    return changed;
}

bool declaresXhtml(const xmlDoc* doc)
{
    const xmlDtd* dtd = doc->intSubset;
    return dtd && dtd->ExternalID &&
           QByteArray(reinterpret_cast<const char*>(dtd->ExternalID)).contains("XHTML");
}

} // namespace

std::optional<QByteArray>
RelinkPage(const QByteArray& bytes,
           const std::function<std::optional<QString>(const QString&)>& relink)
{
    return RewritePage(bytes,
                       [&relink](xmlDoc* doc) { return relinkElements(doc->children, relink); });
}

std::optional<QByteArray> RewritePage(const QByteArray& bytes,
                                      const std::function<bool(xmlDoc*)>& change)
{
    InitialiseXmlParser();
    Parsed parsed = parse(bytes);
    if (!parsed.doc || !parsed.whole || !change(parsed.doc.get()))
        return std::nullopt;
    const QByteArray encoding =
        parsed.declaredEncoding.isEmpty() ? QByteArray("UTF-8") : parsed.declaredEncoding;
    // An XHTML page stays XHTML (empty elements closed, no declaration where it had none).
    const bool xhtml = declaresXhtml(parsed.doc.get());
    xmlNode* declaration = parsed.doc->children;
    while (declaration && !(declaration->type == XML_PI_NODE && named(declaration, "xml")))
        declaration = declaration->next;
    const bool declared = declaration != nullptr;
    if (xhtml && declared) {
        // Written anew by the serialiser below.
        xmlUnlinkNode(declaration);
        xmlFreeNode(declaration);
    }
    const int options =
        xhtml ? (XML_SAVE_XHTML | (declared ? 0 : XML_SAVE_NO_DECL)) : XML_SAVE_AS_HTML;
    xmlBuffer* buffer = xmlBufferCreate();
    if (!buffer)
        return std::nullopt;
    xmlSaveCtxt* save = xmlSaveToBuffer(buffer, encoding.constData(), options);
    std::optional<QByteArray> written;
    if (save) {
        const long saved = xmlSaveDoc(save, parsed.doc.get());
        if (xmlSaveClose(save) >= 0 && saved >= 0)
            written = QByteArray(reinterpret_cast<const char*>(xmlBufferContent(buffer)),
                                 xmlBufferLength(buffer));
    }
    xmlBufferFree(buffer);
    return written;
}

QStringList CssUrls(const QString& css)
{
    QStringList urls;
    for (const CssUrl& found : cssUrls(css))
        urls << found.url;
    return urls;
}

namespace {

QList<CssUrl> cssUrls(const QString& css)
{
    // A tokenizer after CSS Syntax Level 3, reduced to what tells a url apart: comments,
    // strings, escapes, names, url tokens and url() functions.
    QList<CssUrl> urls;
    const qsizetype n = css.size();
    qsizetype i = 0;
    const auto at = [&](qsizetype k) { return k < n ? css[k] : QChar(); };
    const auto isWhite = [](QChar c) {
        return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\f';
    };
    const auto isHex = [](QChar c) {
        return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
    };
    const auto isNameChar = [](QChar c) {
        return c.isLetterOrNumber() || c == u'-' || c == u'_' || c.unicode() >= 0x80;
    };
    const auto validEscape = [&](qsizetype k) {
        return at(k) == u'\\' && k + 1 < n && at(k + 1) != u'\n' && at(k + 1) != u'\r' &&
               at(k + 1) != u'\f';
    };
    // After a backslash at i - 1: the character it stands for.
    const auto escaped = [&]() -> QString {
        if (isHex(at(i))) {
            qsizetype end = i;
            while (end < n && end - i < 6 && isHex(css[end]))
                ++end;
            char32_t code = css.mid(i, end - i).toUInt(nullptr, 16);
            i = end;
            if (isWhite(at(i)))
                ++i;
            if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
                code = 0xFFFD;
            return QString::fromUcs4(&code, 1);
        }
        if (i >= n)
            return QString(QChar(0xFFFD));
        return QString(css[i++]);
    };
    const auto string = [&](QChar quote) {
        QString value;
        while (i < n) {
            const QChar c = css[i++];
            if (c == quote)
                break;
            if (c == u'\n')
                return value; // a bad string ends at the line
            if (c == u'\\') {
                if (at(i) == u'\n') {
                    ++i; // an escaped line break continues the string
                    continue;
                }
                value += escaped();
                continue;
            }
            value += c;
        }
        return value;
    };
    while (i < n) {
        const QChar c = css[i];
        if (c == u'/' && at(i + 1) == u'*') {
            const qsizetype end = css.indexOf(QLatin1String("*/"), i + 2);
            i = end < 0 ? n : end + 2;
        } else if (c == u'"' || c == u'\'') {
            ++i;
            string(c);
        } else if (isNameChar(c) || validEscape(i)) {
            const qsizetype begin = i;
            QString name;
            while (i < n && (isNameChar(css[i]) || validEscape(i))) {
                if (css[i] == u'\\') {
                    ++i;
                    name += escaped();
                } else {
                    name += css[i++];
                }
            }
            if (at(i) != u'(' || name.compare(QLatin1String("url"), Qt::CaseInsensitive) != 0)
                continue;
            ++i;
            while (isWhite(at(i)))
                ++i;
            if (at(i) == u'"' || at(i) == u'\'') {
                const QChar quote = css[i++];
                const QString url = string(quote);
                while (isWhite(at(i)))
                    ++i;
                if (at(i) == u')')
                    ++i;
                urls.append({url, begin, i});
                continue;
            }
            QString value;
            bool bad = false;
            while (i < n && css[i] != u')') {
                const QChar d = css[i];
                if (isWhite(d)) {
                    while (isWhite(at(i)))
                        ++i;
                    bad = i < n && css[i] != u')';
                } else if (d == u'"' || d == u'\'' || d == u'(' ||
                           (d == u'\\' && !validEscape(i))) {
                    bad = true;
                } else if (d == u'\\') {
                    ++i;
                    value += escaped();
                } else {
                    value += d;
                    ++i;
                }
                if (bad) {
                    // A bad url runs to its closing parenthesis and names nothing.
                    while (i < n && css[i] != u')')
                        i += validEscape(i) ? 2 : 1;
                    break;
                }
            }
            ++i;
            if (!bad)
                urls.append({value, begin, qMin(i, n)});
        } else {
            ++i;
        }
    }
    return urls;
}

} // namespace

} // namespace docuflume
