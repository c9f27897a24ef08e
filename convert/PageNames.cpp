#include "convert/PageNames.h"

#include "shell/PathHelpers.h"

#include <QDir>
#include <QFileInfo>

namespace docuflume {

PageNames::PageNames(std::function<bool(const QString& folder)> ignoresCase)
    : m_ignoresCase(std::move(ignoresCase))
{}

QString PageNames::claim(const QString& outputPath)
{
    const qsizetype cut = outputPath.lastIndexOf(kSeparator);
    const QString folder = cut < 0 ? QString() : outputPath.first(cut + 1);
    const QString name = outputPath.sliced(cut + 1);
    const qsizetype dot = name.lastIndexOf(u'.');
    const QString stem = dot < 0 ? name : name.first(dot);
    const QString extension = dot < 0 ? QString() : name.sliced(dot);

    // Two spellings of one folder (a link, a trailing separator) are one folder.
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    const QString place = canonical.isEmpty() ? QDir::cleanPath(folder) : canonical;
    auto ignoresCase = m_folderIgnoresCase.constFind(place);
    if (ignoresCase == m_folderIgnoresCase.cend())
        ignoresCase = m_folderIgnoresCase.insert(place, m_ignoresCase(place));
    const auto key = [&](const QString& candidate) {
        return place + u'/' + (*ignoresCase ? candidate.toCaseFolded() : candidate);
    };

    QString candidate = name;
    for (int n = 2; m_taken.contains(key(candidate)); ++n)
        candidate = stem + QStringLiteral(" (%1)").arg(n) + extension;
    m_taken.insert(key(candidate));
    return folder + candidate;
}

} // namespace docuflume
