#pragma once

#include <QString>

#include <functional>

namespace docuflume {

class Clock;
class Prompts;
class RandomSource;
class SettingsStore;
class WordAutomation;

// The outside services the main window works through. The program hands it the real
// desktop services; tests hand it scripted ones. Every service must outlive the window.
struct Platform
{
    Platform(Prompts& prompts_, SettingsStore& settings_) : prompts(prompts_), settings(settings_)
    {}

    // Required: every dialog and message goes through these, and every choice is stored.
    Prompts& prompts;
    SettingsStore& settings;
    // Optional. Null where no word processor is built in: start-up then reports that none
    // could be created and the program ends.
    WordAutomation* automation = nullptr;
    // Optional, both or neither: without them the maker's home page is never opened.
    Clock* clock = nullptr;
    RandomSource* random = nullptr;
    // The folder the program's own files are found in; empty for the program's folder.
    QString programFolder;
    // Ends the program at once; the program ends in its ordinary way without it.
    std::function<void()> endProgram;
};

} // namespace docuflume
