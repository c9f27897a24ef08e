#pragma once

#include <QByteArray>
#include <QDir>
#include <QString>
#include <QStringList>

#include <source_location>

namespace docuflume::test {

// Makes the file at `path` holding `contents`, with the folders above it, and returns
// `path`. A file that cannot be made fails the running test at the caller's line.
QString touchFile(const QString& path, const QByteArray& contents = QByteArray(),
                  std::source_location caller = std::source_location::current());

// A path as the program holds it: with the platform's separators, as the intakes give it.
inline QString native(const QString& path)
{
    return QDir::toNativeSeparators(path);
}
inline QStringList native(QStringList paths)
{
    for (QString& path : paths)
        path = native(path);
    return paths;
}

} // namespace docuflume::test
