#pragma once

#include "app/SettingsStore.h"
#include "shell/Chance.h"
#include "shell/Platform.h"
#include "support/RecordingAutomation.h"
#include "support/RecordingPrompts.h"

#include <QTemporaryDir>

#include <memory>

namespace docuflume::test {

class FixedClock final : public Clock
{
public:
    int secondsSinceMidnight() const override { return seconds; }
    int seconds = 0;
};

// Gives the scripted numbers in turn, then 0.
class ScriptedRandom final : public RandomSource
{
public:
    void seed(quint32 value) override { seeds.append(value); }
    double next() override { return numbers.isEmpty() ? 0.0 : numbers.takeFirst(); }
    QList<quint32> seeds;
    QList<double> numbers;
};

// The services a test hands the window: scripted prompts, a settings file of its own in a
// temporary folder, a fixed clock and scripted chance.
class TestPlatform
{
public:
    TestPlatform();

    Platform services();
    // The same, keeping the settings in `store` instead.
    Platform services(SettingsStore& store);
    QString settingsFile() const;

    QTemporaryDir folder;
    RecordingPrompts prompts;
    RecordingAutomation automation;
    std::unique_ptr<SettingsStore> settings;
    FixedClock clock;
    ScriptedRandom random;
};

} // namespace docuflume::test
