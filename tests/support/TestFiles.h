#pragma once

#include <QByteArray>
#include <QString>

#include <source_location>

namespace docuflume::test {

// Makes the file at `path` holding `contents`, with the folders above it, and returns
// `path`. A file that cannot be made fails the running test at the caller's line.
QString touchFile(const QString& path, const QByteArray& contents = QByteArray(),
                  std::source_location caller = std::source_location::current());

} // namespace docuflume::test
