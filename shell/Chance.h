#pragma once

#include <QtGlobal>

#include <memory>

namespace docuflume {

// The time of day, kept apart so that tests can fix it.
class Clock
{
public:
    virtual ~Clock() = default;
    virtual int secondsSinceMidnight() const = 0;
};

// A seeded source of uniform numbers in [0, 1).
class RandomSource
{
public:
    virtual ~RandomSource() = default;
    virtual void seed(quint32 seed) = 0;
    virtual double next() = 0;
};

std::unique_ptr<Clock> makeSystemClock();
std::unique_ptr<RandomSource> makeStandardRandomSource();

} // namespace docuflume
