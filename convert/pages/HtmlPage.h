#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

struct _xmlDoc;

namespace docuflume {

// An HTML page as a browser reads it, through libxml2's HTML parser: what it declares, what
// it shows and which files beside it it loads. The document's own text is never taken for
// markup, however much it looks like it.
struct HtmlPage
{
    // The encoding the page declares for itself (a meta charset or an XML declaration),
    // empty when it declares none.
    QByteArray declaredEncoding;
    // Every url the page loads a file from, as the markup gives it (entities decoded).
    QStringList urls;
    // The files the page loads from its own folder, by name: pictures, embedded objects,
    // scripts, style sheets and CSS url()s. Links to other pages, to other folders, or with
    // a scheme of their own do not count.
    QStringList localFiles;
    // The text a reader sees: one line per block (paragraph, heading, table cell, line
    // break), white space collapsed as a browser collapses it, no head, script or style.
    QString visibleText;
    // False when the parser gave up before the end of the page (its text is then not all
    // here).
    bool whole = true;
};

HtmlPage ReadHtmlPage(const QByteArray& bytes);

// The page with every url it loads a file from (those of HtmlPage::urls) replaced by what
// `relink` gives for it, read and written back through libxml2 in the page's own flavour
// (HTML, or XHTML where its doctype says so); nothing when `relink` changes no url or the
// page cannot be read whole. `relink` answers nothing for a url that stays.
std::optional<QByteArray>
RelinkPage(const QByteArray& bytes,
           const std::function<std::optional<QString>(const QString&)>& relink);

// The page as `change` leaves its tree, read and written back through libxml2 in the page's
// own flavour; nothing when `change` answers that it changed nothing, or the page cannot be
// read whole.
std::optional<QByteArray> RewritePage(const QByteArray& bytes,
                                      const std::function<bool(_xmlDoc*)>& change);

// How many words a text holds: the runs of characters between white space (Unicode's, a
// no-break space among it), counted alike on a page and in the document it was made from.
qsizetype CountWords(QStringView text);

// Where a url that a page at `pagePath` loads leads when a browser reads it: the local file
// it names, and whether it names it absolutely (a file url, or a path from the root).
// Nothing for a url of another kind (another scheme or host, an anchor, data).
struct LocalTarget
{
    QString path; // clean and absolute
    bool absolute = false;
};
std::optional<LocalTarget> ResolveLocalUrl(QString url, const QString& pagePath);

// True when `path` is `folder` or lies below it (both clean and absolute).
bool IsWithin(const QString& path, const QString& folder);

// Sets libxml2 up, once, before any thread of ours parses with it.
void InitialiseXmlParser();

// The urls a piece of CSS names (url(...) tokens and url("...") functions), unescaped, in
// the order they stand; comments and strings elsewhere are skipped as CSS skips them.
QStringList CssUrls(const QString& css);

} // namespace docuflume
