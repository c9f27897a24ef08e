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
    // How long an instance may take to close its document and end once told to.
    std::chrono::milliseconds quitTimeLimit = std::chrono::seconds(15);
    // Within a batch, start the next instance while the current one converts; every
    // document still gets a fresh instance of its own.
    bool startAhead = true;
    // Within a batch that tells what comes next, how many of the coming documents are
    // converted ahead at a time, each in an instance of its own: -1 for as many as this
    // machine's cores and free memory allow, 0 for none.
    int aheadInstances = -1;
    // Run every instance in a network namespace of its own with no interface, where the
    // machine allows it. The profiles' settings keep documents from fetching either way.
    bool withoutNetwork = true;
    // Where the private profiles live; empty for the user's cache folder.
    QString profileRoot;
    // LibreOffice's program folder; empty for the installed one.
    QString programFolder;
};

// The word processor on Linux: LibreOffice Writer, one private headless instance per
// document, driven through UNO. Throws a Failure from create() when LibreOffice is not
// installed, or installed without Writer's user interface files.
std::unique_ptr<WordAutomation> makeLibreOfficeAutomation(const LibreOfficeOptions& options = {});

} // namespace docuflume
