#pragma once

#include <QStringList>

class QWidget;

namespace docuflume {

class Prompts;

// True when a folder name holds a character the walk refuses: a control character, a C1
// control, "?", or one the file-name encoding cannot represent (read as "?").
bool HasUnsafeChars(const QString& name);

// Appends to `folders` (each ending in the separator) every folder below the ones it holds,
// level by level: all levels with `recurse`, one otherwise. Hidden system folders, unsafe
// names and folders reached a second time (through links) are left out; a folder that
// cannot be listed for want of permission or because it has gone is removed. Yields to
// the window as it goes.
void GetSubDirectories2016(Prompts& prompts, QWidget* owner, QStringList& folders,
                           bool recurse = false);

} // namespace docuflume
