// The Open File dialog's answer in its classic form.

#include "doclist/AddFiles.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace docuflume {

QString OpenFileResult(const QStringList& picked)
{
    if (picked.size() <= 1)
        return picked.isEmpty() ? QString() : QDir::toNativeSeparators(picked.first());
    const QString folder = QFileInfo(picked.first()).absolutePath();
    const bool oneFolder = std::all_of(picked.begin(), picked.end(), [&](const QString& path) {
        return QFileInfo(path).absolutePath() == folder;
    });
    if (!oneFolder) {
        QString result;
        for (const QString& path : picked)
            result += QChar(0) + QDir::toNativeSeparators(path);
        return result;
    }
    // The folder (a root keeps its separator, others have none), then each name after a NUL.
    QString result = QDir::toNativeSeparators(folder);
    for (const QString& path : picked)
        result += QChar(0) + QFileInfo(path).fileName();
    return result;
}

} // namespace docuflume
