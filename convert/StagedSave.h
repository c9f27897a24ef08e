#pragma once

#include <QString>

#include <functional>

namespace docuflume {

// Saves a page with the files beside it (its pictures) into the output folder, all or
// nothing. `write` is handed the path of the page inside a staging folder of ours beside
// the output, and writes the page and its pictures there. Only when it returns and the page
// checks out (see CheckSavedPage) are the files moved into place, the pictures first and
// the page last, so that a page never points at pictures that are not there yet; otherwise
// the output folder is left as it was and the failure passes on. `writer` names the program
// that writes, for the message of a page that is not sound.
void SaveStaged(const QString& target, const QString& writer,
                const std::function<void(const QString& stagedPage)>& write);

// The name of the staging folders this program makes: ".docuflume-<process>-<count>".
QString StagingFolderName();

} // namespace docuflume
