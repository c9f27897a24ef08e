#pragma once

#include <QString>

#include <optional>

namespace docuflume {

// True for the names of Word's packaged formats: .docx, .docm, .dotx, .dotm.
bool IsWordPackageName(const QString& fileName);

// How many words of a Word package's own text a page can show, counted as CountWords counts
// them: the text of the main document (its tables and text boxes with it), its footnotes and
// endnotes, the largest header and the largest footer that its sections name (a page shows
// one of each), and the visible text of the chunks in other formats it includes (HTML,
// plain text, packages of its own). Comments, parts no section names, the fallbacks kept
// for older readers and hidden runs are left out. Nothing
// when the package cannot be read whole within its bounds: damaged, not a package, or
// parts too large to be a document's text.
std::optional<qsizetype> WordPackageWords(const QString& path);

} // namespace docuflume
