#pragma once

#include <QString>

#include <optional>

namespace docuflume {

// What is wrong with an HTML page the word processor has just written into `folder`, or
// nothing when it is sound: the page exists and is not empty, its bytes are valid in the
// encoding it declares (UTF-8 when it declares none), and every file it loads from its own
// folder (see HtmlPage) was written beside it, or already stands in `finalFolder`, where a
// linked picture may sit.
std::optional<QString> CheckSavedPage(const QString& folder, const QString& pageName,
                                      const QString& finalFolder);

} // namespace docuflume
