#include "convert/libreoffice/SavedPageCheck.h"

#include "convert/libreoffice/HtmlPage.h"

#include <QDir>
#include <QFile>
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
                                      const QString& finalFolder, qsizetype* shownWords)
{
    QFile file(QDir(folder).filePath(pageName));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("the page %1 was not written").arg(pageName);
    const QByteArray bytes = file.readAll();
    if (bytes.isEmpty())
        return QStringLiteral("the page %1 is empty").arg(pageName);

    const HtmlPage page = ReadHtmlPage(bytes);
    if (shownWords)
        *shownWords = CountWords(page.visibleText);
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

    QStringList missing;
    for (const QString& name : page.localFiles) {
        if (!QFile::exists(QDir(folder).filePath(name)) &&
            !QFile::exists(QDir(finalFolder).filePath(name)))
            missing << name;
    }
    if (!missing.isEmpty())
        return QStringLiteral("the page %1 refers to files that were not written: %2")
            .arg(pageName, missing.join(QStringLiteral(", ")));
    return std::nullopt;
}

} // namespace docuflume
