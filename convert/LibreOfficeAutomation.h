#pragma once

#include "convert/WordAutomation.h"

#include <chrono>
#include <memory>

namespace docuflume {

// How long one document may take to open or to save before its instance is ended. Large
// documents take seconds; an instance that takes minutes has hung.
inline constexpr std::chrono::seconds kDocumentTimeLimit{180};

struct LibreOfficeOptions
{
    std::chrono::milliseconds documentTimeLimit = kDocumentTimeLimit;
    // Start the next instance while the current one converts; every document still gets a
    // fresh instance of its own.
    bool startAhead = true;
    // How long an instance started ahead may wait for its document before it is ended.
    std::chrono::milliseconds spareIdleLimit = std::chrono::seconds(5);
    // Where the private profiles live; empty for the user's cache folder.
    QString profileRoot;
};

// The word processor on Linux: LibreOffice Writer, one private headless instance per
// document, driven through UNO. Throws a Failure from create() when LibreOffice is not
// installed.
std::unique_ptr<WordAutomation> makeLibreOfficeAutomation(const LibreOfficeOptions& options = {});

} // namespace docuflume
