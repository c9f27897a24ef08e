#include "convert/libreoffice/DocumentKinds.h"

#include "convert/ExportDocument.h"

#include <QFileInfo>
#include <QStringList>

namespace docuflume {

bool HasWordExtension(const QString& fileName)
{
    return IsWordDocumentName(QFileInfo(fileName).fileName());
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
