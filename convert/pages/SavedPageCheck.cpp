#include "convert/pages/SavedPageCheck.h"

#include "convert/pages/HtmlPage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <algorithm>

namespace docuflume {

std::optional<qsizetype> LostWords(const DocumentWords& words, qsizetype shown)
{
    constexpr qsizetype kFewest = 5; // below it, a page may well show other words
    std::optional<qsizetype> lost;
    for (const std::optional<qsizetype>& held : {words.loaded, words.stored}) {
        if (held && *held >= kFewest && shown * 5 < *held)
            lost = std::max(lost.value_or(0), *held);
    }
    return lost;
}

std::optional<QString> CheckSavedPage(const QString& folder, const QString& pageName,
                                      const QString& finalFolder,
                                      std::optional<qsizetype>* shownWords)
{
    QFile file(QDir(folder).filePath(pageName));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("the page %1 was not written").arg(pageName);
    const QByteArray bytes = file.readAll();
    return CheckPage(bytes, ReadHtmlPage(bytes), folder, pageName, finalFolder, shownWords);
}

std::optional<QString> CheckPage(const QByteArray& bytes, const HtmlPage& page,
                                 const QString& folder, const QString& pageName,
                                 const QString& finalFolder, std::optional<qsizetype>* shownWords)
{
    if (bytes.isEmpty())
        return QStringLiteral("the page %1 is empty").arg(pageName);
    if (shownWords)
        *shownWords = page.whole ? std::optional(CountWords(page.visibleText)) : std::nullopt;
    // What the writer uses unless told otherwise.
    const QByteArray encoding =
        page.declaredEncoding.isEmpty() ? QByteArray("UTF-8") : page.declaredEncoding;
    QStringDecoder decoder(encoding.constData());
    // (An encoding Qt cannot read is left to the browser.)
    if (decoder.isValid()) {
        [[maybe_unused]] const QString text = decoder.decode(bytes);
        if (decoder.hasError())
            return QStringLiteral("the page %1 is not valid %2")
                .arg(pageName, QString::fromLatin1(encoding));
    }

    const QString staging = QDir::cleanPath(QDir(folder).absolutePath());
    const QString folderPath = QDir::cleanPath(QDir(finalFolder).absolutePath());
    QStringList intoStaging, absolute, missing;
    for (const QString& url : page.urls) {
        const std::optional<LocalTarget> found = ResolveLocalUrl(url, folderPath + u'/' + pageName);
        if (!found)
            continue;
        const QFileInfo target(found->path);
        if (IsWithin(found->path, staging)) {
            intoStaging << url;
        } else if (IsWithin(found->path, folderPath)) {
            const bool beside = target.absolutePath() == folderPath;
            if (found->absolute)
                absolute << url;
            else if (beside ? !QFile::exists(QDir(staging).filePath(target.fileName())) &&
                                  !target.exists()
                            : !target.exists())
                missing << (beside ? target.fileName() : url);
        } else if (!found->absolute && !target.exists()) {
            missing << url;
        }
    }
    missing.removeDuplicates();
    const QString separator = QStringLiteral(", ");
    if (!intoStaging.isEmpty())
        return QStringLiteral("the page %1 refers into the folder it was written in: %2")
            .arg(pageName, intoStaging.join(separator));
    if (!absolute.isEmpty())
        return QStringLiteral("the page %1 refers to files of its own folder by absolute links: %2")
            .arg(pageName, absolute.join(separator));
    if (!missing.isEmpty())
        return QStringLiteral("the page %1 refers to files that were not written: %2")
            .arg(pageName, missing.join(separator));
    return std::nullopt;
}

} // namespace docuflume
