#pragma once

#include <QString>

class QWidget;

namespace docuflume {

class Prompts;

// The text of the "Application Error" box: the failure's description, the place and line
// where it happened, and the request to send a screenshot to support.
QString ErrorReportText(const QString& location, const QString& description, int line);

void ShowErrorReport(Prompts& prompts, QWidget* owner, const QString& location,
                     const QString& description, int line);

} // namespace docuflume
