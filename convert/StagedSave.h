#pragma once

#include <QString>

#include <functional>
#include <optional>

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

// Moves a page that was written into `staging` (a folder of ours beside `target`, the page
// named like the target) into place with its pictures, as SaveStaged does once its writer
// returns; the staging folder is gone afterwards, whether the page was sound or not.
void CommitStaged(const QString& staging, const QString& target, const QString& writer);

// The name of the staging folders this program makes: ".docuflume-<process>-<count>".
QString StagingFolderName();

// Makes a staging folder of ours in `folder` and returns its path; nothing when the folder
// cannot be written.
std::optional<QString> MakeStagingFolder(const QString& folder);

// Removes the staging folders in `folder` that a program no longer running left behind
// (one that was killed in the middle of a save).
void RemoveLeftStaging(const QString& folder);
// The same, the first time this program saves into `folder`.
void RemoveLeftStagingOnce(const QString& folder);

} // namespace docuflume
