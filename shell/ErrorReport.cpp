#include "shell/ErrorReport.h"

#include "BuildConfig.h"
#include "shell/Prompts.h"

namespace docuflume {

QString ErrorReportText(const QString& location, const QString& description, int line)
{
    return description + QStringLiteral("\r\n") + location + QStringLiteral("at line ") +
           QString::number(line) + QStringLiteral("\r\r") +
           QStringLiteral("Please email screenshot of this message to ") +
           QStringLiteral(DOCUFLUME_SUPPORT_EMAIL);
}

void ShowErrorReport(Prompts& prompts, QWidget* owner, const QString& location,
                     const QString& description, int line)
{
    prompts.message(owner, {ErrorReportText(location, description, line),
                            QStringLiteral("Application Error"), MessageIcon::Warning,
                            MessageButtons::Ok});
}

} // namespace docuflume
