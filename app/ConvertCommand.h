#pragma once

#include "app/CommandLine.h"

#include <QString>

#include <functional>
#include <optional>

class QIODevice;

namespace docuflume {

class WordAutomation;

// How many words a finished page shows; nothing when it cannot be told.
using PageWordCounter = std::function<std::optional<qsizetype>(const QString& page)>;

// Converts what `request` names without a window, one document after another through the
// same engine, names, checks and staged saves as the window's run, writing progress to
// `progress` (a bar when `terminal`, else a line per document) and the report as it goes.
// Returns the program's exit status: 0 when every document converted, 1 when any failed or
// the run could not start, 128 + the signal when `interrupted` says a signal ended it.
int RunConversion(const ConvertRequest& request, WordAutomation* word,
                  const PageWordCounter& pageWords, QIODevice& progress, bool terminal,
                  const std::function<int()>& interrupted);

} // namespace docuflume
