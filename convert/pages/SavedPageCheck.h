#pragma once

#include "convert/pages/HtmlPage.h"

#include <QString>

#include <optional>

namespace docuflume {

// What a document holds of text, counted apart from the page written for it.
struct DocumentWords
{
    QString document;                // its file name
    std::optional<qsizetype> loaded; // the words of the text the word processor loaded
    std::optional<qsizetype> stored; // the words its own package holds (WordPackageWords)
};

// The words of a document, by either count, that a page showing `shown` words lost, or
// nothing: it lost them when the document holds at least five and the page shows fewer than
// a fifth of them. (Ordinary pages show far more of their package's words than that; a
// document that holds no text loses none.)
std::optional<qsizetype> LostWords(const DocumentWords& words, qsizetype shown);

// What is wrong with an HTML page the word processor has just written into the staging
// folder `folder`, or nothing when it is sound, read as a browser will read it once it stands
// in `finalFolder`: the page exists and is not empty, its bytes are valid in the encoding it
// declares (UTF-8 when it declares none), and every file it loads is there: each url is
// resolved against the page's final place, and a url into the staging folder, an absolute
// url of a file in the final folder (which breaks once the folder is moved), or a relative
// url of a file that is neither written beside it nor already there makes it unsound. An
// absolute url of a file outside the final folder is the document's own link, as a remote
// one is, and is not looked for. `shownWords`, when given, is set to the words a reader
// sees on it, or to nothing when the page could not be read whole.
std::optional<QString> CheckSavedPage(const QString& folder, const QString& pageName,
                                      const QString& finalFolder,
                                      std::optional<qsizetype>* shownWords = nullptr);
// The same for a page already read: its bytes, and the page they hold.
std::optional<QString> CheckPage(const QByteArray& bytes, const HtmlPage& page,
                                 const QString& folder, const QString& pageName,
                                 const QString& finalFolder, std::optional<qsizetype>* shownWords);

} // namespace docuflume
