#pragma once

#include <QString>

namespace docuflume {

// The title of message boxes: the product name cut at its last blank (at least once, and
// again while longer than 40 characters); a name without a blank stays whole.
QString ApplicationTitleFor(const QString& productName);

} // namespace docuflume
