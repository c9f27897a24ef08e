#include "shell/Chance.h"

#include <QTime>

#include <random>

namespace docuflume {
namespace {

class SystemClock final : public Clock
{
public:
    int secondsSinceMidnight() const override
    {
        return QTime::currentTime().msecsSinceStartOfDay() / 1000;
    }
};

class StandardRandomSource final : public RandomSource
{
public:
    void seed(quint32 seed) override { m_engine.seed(seed); }
    double next() override { return std::uniform_real_distribution<double>(0.0, 1.0)(m_engine); }

private:
    std::mt19937 m_engine{std::random_device{}()};
};

} // namespace

std::unique_ptr<Clock> makeSystemClock()
{
    return std::make_unique<SystemClock>();
}

std::unique_ptr<RandomSource> makeStandardRandomSource()
{
    return std::make_unique<StandardRandomSource>();
}

} // namespace docuflume
