#pragma once

#include "convert/WordAutomation.h"

#include <memory>

namespace docuflume {

// The word processor on Windows: Microsoft Word, a fresh instance per document, driven
// through its automation interface by member name (convert/com/). COM is started on the
// calling thread, the window's, as an apartment of its own, for as long as the engine lives.
std::unique_ptr<WordAutomation> makeWordComAutomation();

} // namespace docuflume
