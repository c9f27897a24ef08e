#pragma once

// The steps of one export, written once for every engine: the program's, behind the
// automation interface, and the Windows engine's own, which its test drives under Wine
// without Qt. Plain C++.

namespace docuflume {

// Creates an instance of `engine`, opens `source` in it, lets `save` save the document (or
// not, when no flavour is chosen), lets go of the document and quits. An instance whose
// document failed is ended all the same, and the failure passed on.
template <typename Engine, typename Source, typename Save>
void RunExportSteps(Engine& engine, const Source& source, const Save& save)
{
    const auto application = engine.create();
    try {
        auto document = application->open(source);
        save(*document);
        document.reset();
    } catch (...) {
        try {
            application->quit();
        } catch (...) {
        }
        throw;
    }
    application->quit();
}

} // namespace docuflume
