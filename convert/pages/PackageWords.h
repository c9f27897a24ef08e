#pragma once

#include <QString>

#include <optional>

namespace docuflume {

// True for the names of Word's packaged formats: .docx, .docm, .dotx, .dotm.
bool IsWordPackageName(const QString& fileName);

// How many words a Word package holds in its own text, counted as CountWords counts them:
// the text of the main document, its headers, footers, footnotes, endnotes and comments
// (the fallbacks kept for older readers and hidden runs left out), and the visible text of
// the chunks in other formats it includes (HTML, plain text, packages of its own). Nothing
// when the package cannot be read whole within its bounds: damaged, not a package, or
// parts too large to be a document's text.
std::optional<qsizetype> WordPackageWords(const QString& path);

} // namespace docuflume
