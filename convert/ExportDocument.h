#pragma once

#include "convert/WordAutomation.h"

#include <functional>
#include <optional>

namespace docuflume {

// The HTML flavours, as the word processor numbers its save formats.
enum FileFormat : int {
    HtmlNormal = 8,
    HtmlFiltered = 10,
};

// The save format of the flavour chosen at this moment, or nothing when none is chosen.
using FlavourReader = std::function<std::optional<int>()>;

// The named arguments of the save, in the order the word processor is given them.
QList<NamedArgument> SaveAsArguments(const QString& outputPath, int fileFormat);

// The page a document's entry is converted into in `folder`: the file name less its last
// "."-part (or the whole name, when it has none), plus ".htm".
QString HtmlOutputPath(const QString& folder, const QString& source);

// True for the names of Word's own files, by their extension: documents, templates, RTF and
// backups.
bool IsWordDocumentName(const QString& fileName);

// Converts one document in an instance of its own: create, open, save as HTML in the
// flavour chosen now, quit. Throws a Failure when the document cannot be converted; the
// instance is ended then, too.
void ExportDocument(WordAutomation* word, const FlavourReader& flavour, const QString& sourcePath,
                    const QString& outputPath);

} // namespace docuflume
