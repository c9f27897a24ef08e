#pragma once

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
};

} // namespace docuflume
