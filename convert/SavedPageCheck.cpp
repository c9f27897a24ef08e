#include "convert/SavedPageCheck.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QUrl>

namespace docuflume {
namespace {

// The encoding a page names for itself: an XML declaration or a meta charset.
QByteArray declaredEncoding(const QByteArray& page)
{
    static const QRegularExpression declaration(
        QStringLiteral(R"((?:<\?xml[^>]*\bencoding|\bcharset)\s*=\s*["']?([A-Za-z0-9._:-]+))"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = declaration.match(QString::fromLatin1(page.left(4096)));
    return match.hasMatch() ? match.captured(1).toLatin1() : QByteArray();
}

QString decodedAttribute(QString value)
{
    static const QRegularExpression queryOrFragment(QStringLiteral("[?#]"));
    value.replace(QLatin1String("&amp;"), QLatin1String("&"));
    const qsizetype end = value.indexOf(queryOrFragment);
    if (end >= 0)
        value.truncate(end);
    return QUrl::fromPercentEncoding(value.toUtf8());
}

} // namespace

QStringList FilesReferenced(const QString& page)
{
    static const QRegularExpression reference(
        QStringLiteral(
            R"re(\b(?:src|data|background)\s*=\s*(?:"([^"]*)"|'([^']*)')|url\(\s*["']?([^"')]+))re"),
        QRegularExpression::CaseInsensitiveOption);
    QStringList files;
    for (const QRegularExpressionMatch& match : reference.globalMatch(page)) {
        const QString value =
            decodedAttribute(match.captured(1) + match.captured(2) + match.captured(3)).trimmed();
        if (value.isEmpty() || value.contains(u'/') || value.contains(u'\\') ||
            value.contains(u':'))
            continue;
        if (!files.contains(value))
            files << value;
    }
    return files;
}

std::optional<QString> CheckSavedPage(const QString& folder, const QString& pageName,
                                      const QString& finalFolder)
{
    QFile file(QDir(folder).filePath(pageName));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("the page %1 was not written").arg(pageName);
    const QByteArray bytes = file.readAll();
    if (bytes.isEmpty())
        return QStringLiteral("the page %1 is empty").arg(pageName);

    QByteArray encoding = declaredEncoding(bytes);
    if (encoding.isEmpty())
        encoding = "UTF-8"; // what the writer uses unless told otherwise
    QString text;
    QStringDecoder decoder(encoding.constData());
    if (decoder.isValid()) {
        text = decoder.decode(bytes);
        if (decoder.hasError())
            return QStringLiteral("the page %1 is not valid %2")
                .arg(pageName, QString::fromLatin1(encoding));
    } else {
        // An encoding Qt cannot read: its markup is ASCII all the same.
        text = QString::fromLatin1(bytes);
    }

    QStringList missing;
    for (const QString& name : FilesReferenced(text)) {
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
