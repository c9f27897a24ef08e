#pragma once

#include <QString>

class QWidget;

namespace docuflume {

class Prompts;

// Lets the user pick a folder, with `initialFolder` selected at first. The picked folder's
// path without a trailing separator (but the root keeps its own), or the empty string when
// the user cancelled.
QString BrowseForFolder(Prompts& prompts, QWidget* owner, const QString& title,
                        const QString& initialFolder);

} // namespace docuflume
