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
    // Where the program's own files (the samples, the pointers, the skin) are looked for:
    // beside the program first (the build tree, Windows), then in the data folder an
    // installation keeps them in. An empty programFolder stands for the program's own
    // folder, and then an empty dataFolder for its installed data folder; given a
    // programFolder (as tests do), only a dataFolder given too is looked in.
    QString programFolder;
    QString dataFolder;
    // Ends the program at once; the program ends in its ordinary way without it.
    std::function<void()> endProgram;
};

} // namespace docuflume
