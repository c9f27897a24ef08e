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

// A symbolic link at `path` to `target` (a file or a folder, there or not), made the way the
// platform's users make them, for as long as this lives: removed as a link before the
// temporary folder holding it goes, whose removal might otherwise follow it. False when this
// system lets the test make none.
class Link
{
public:
    Link(const QString& target, const QString& path);
    ~Link();
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;
    explicit operator bool() const { return m_made; }

private:
    QString m_path;
    bool m_made = false;
    bool m_folder = false;
};

// Marks the file or folder hidden where a name alone does not (a leading dot hides it on
// Linux, an attribute on Windows), and returns `path`.
QString hide(const QString& path);

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
