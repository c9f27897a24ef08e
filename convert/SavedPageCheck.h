#pragma once

#include <QStringList>

#include <optional>

namespace docuflume {

// The files a page refers to by a bare file name (pictures, embedded objects), which is how
// the writer names the ones it saves beside a page; links with a scheme or a folder point
// elsewhere.
QStringList FilesReferenced(const QString& page);

// What is wrong with an HTML page the word processor has just written into `folder`, or
// nothing when it is sound: the page exists and is not empty, its bytes are valid in the
// encoding it declares (UTF-8 when it declares none), and every file it refers to by a bare
// file name was written beside it (or already stands in `finalFolder`, where a linked
// picture may sit).
std::optional<QString> CheckSavedPage(const QString& folder, const QString& pageName,
                                      const QString& finalFolder);

} // namespace docuflume
