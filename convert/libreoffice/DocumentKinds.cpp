#include "convert/libreoffice/DocumentKinds.h"

#include <QFileInfo>
#include <QStringList>

namespace docuflume {

bool HasWordExtension(const QString& fileName)
{
    static const QStringList word = {QStringLiteral("doc"),  QStringLiteral("docx"),
                                     QStringLiteral("docm"), QStringLiteral("dot"),
                                     QStringLiteral("dotx"), QStringLiteral("dotm"),
                                     QStringLiteral("rtf"),  QStringLiteral("wbk")};
    return word.contains(QFileInfo(fileName).suffix(), Qt::CaseInsensitive);
}

bool FilterFitsName(const QString& fileName, const QString& filterName)
{
    if (!HasWordExtension(fileName))
        return true;
    // Word's own formats under their LibreOffice names; a .doc may well hold RTF or a .docx.
    return filterName.startsWith(QLatin1String("MS Word")) ||
           filterName.startsWith(QLatin1String("MS WinWord")) ||
           filterName.startsWith(QLatin1String("Office Open XML Text")) ||
           filterName == QLatin1String("Rich Text Format");
}

} // namespace docuflume
