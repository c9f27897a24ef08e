#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

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
};

HtmlPage ReadHtmlPage(const QByteArray& bytes);

// How many words a text holds: the runs of characters between white space (Unicode's, a
// no-break space among it), counted alike on a page and in the document it was made from.
qsizetype CountWords(QStringView text);

// Sets libxml2 up, once, before any thread of ours parses with it.
void InitialiseXmlParser();

// The urls a piece of CSS names (url(...) tokens and url("...") functions), unescaped, in
// the order they stand; comments and strings elsewhere are skipped as CSS skips them.
QStringList CssUrls(const QString& css);

} // namespace docuflume
