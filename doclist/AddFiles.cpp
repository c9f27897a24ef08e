// The Open File dialog's answer in its classic form.

#include "doclist/AddFiles.h"

#include <QDir>
#include <QFileInfo>

namespace docuflume {

QString OpenFileResult(const QStringList& picked)
{
    if (picked.size() <= 1)
        return picked.isEmpty() ? QString() : QDir::toNativeSeparators(picked.first());
    // The folder (a root keeps its separator, others have none), then each name after a NUL.
    QString result = QDir::toNativeSeparators(QFileInfo(picked.first()).absolutePath());
    for (const QString& path : picked)
        result += QChar(0) + QFileInfo(path).fileName();
    return result;
}

} // namespace docuflume
