#pragma once

#include <QString>

class QWidget;

namespace docuflume {

class Prompts;
class WordAutomation;

// Starts one instance and quits it again. When none can be started, says so and returns
// false: the caller then ends the program. `word` is null when no engine is built in.
bool CheckWordInstalled(WordAutomation* word, Prompts& prompts, QWidget* owner,
                        const QString& title);

// True when the user has an instance of the word processor open; never fails.
bool IsWordRunning(WordAutomation* word);

// True when the word processor is open and the user chose not to go on.
bool WarnIfWordOpen(WordAutomation* word, Prompts& prompts, QWidget* owner, const QString& title);

} // namespace docuflume
