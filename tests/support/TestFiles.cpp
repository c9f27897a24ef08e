#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

namespace docuflume::test {

QString touchFile(const QString& path, const QByteArray& contents, std::source_location caller)
{
    QFile file(path);
    if (!QDir().mkpath(QFileInfo(path).absolutePath()) || !file.open(QIODevice::WriteOnly) ||
        file.write(contents) != contents.size() || !file.flush())
        QTest::qFail(qPrintable(QStringLiteral("cannot make ") + path), caller.file_name(),
                     int(caller.line()));
    return path;
}

} // namespace docuflume::test
