#pragma once

#include <QIcon>

namespace docuflume {

// The program's own icon, drawn at the usual sizes.
QIcon ApplicationIcon();

} // namespace docuflume
