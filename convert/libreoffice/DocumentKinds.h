#pragma once

#include <QString>

namespace docuflume {

// True for the extensions that claim a Word document (.doc, .docx, .rtf, ...).
bool HasWordExtension(const QString& fileName);

// Whether the import filter the word processor chose fits what the file's name claims: a
// file named like a Word document must have been read as one, not as plain text or a
// guess; any other file counts as whatever the word processor opened it as.
bool FilterFitsName(const QString& fileName, const QString& filterName);

} // namespace docuflume
