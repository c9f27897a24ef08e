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
// desktop services; tests hand it scripted ones.
struct Platform
{
    Prompts* prompts = nullptr;
    SettingsStore* settings = nullptr;
    WordAutomation* automation = nullptr;
    Clock* clock = nullptr;
    RandomSource* random = nullptr;
    // The folder the program's own files are found in; empty for the program's folder.
    QString programFolder;
    // Ends the program at once; the program ends in its ordinary way without it.
    std::function<void()> endProgram;
};

} // namespace docuflume
