#pragma once

#include <QStringList>

namespace docuflume {

// How many characters the Open File dialog's answer may hold.
inline constexpr int kFileNameBufferSize = 30000;

// The dialog's answer in its classic form: one picked file as its full path; several as
// their folder followed by each file name after a NUL. Files from several folders (the
// desktop's dialog can return them from its recent and search views) have no folder in
// common: the folder is then left empty and each file follows as its full path.
QString OpenFileResult(const QStringList& picked);

} // namespace docuflume
