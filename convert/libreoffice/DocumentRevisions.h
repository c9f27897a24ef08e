#pragma once

#include "convert/pages/PageRevisions.h"

#include <com/sun/star/lang/XComponent.hpp>

namespace docuflume::office {

// Readies a loaded document for a page that shows its tracked changes and comments: every
// insertion and deletion gets markers at its ends, and every comment a marker where it
// ends in place of itself (the office would write its text into the page's source, out of
// sight). What the markers stand for is returned, for MarkPageRevisions to show. Changes
// of formatting alone are left as they are (the page shows the new formatting).
Revisions MarkDocumentRevisions(
    const com::sun::star::uno::Reference<com::sun::star::lang::XComponent>& document);

} // namespace docuflume::office
