#include "shell/ErrorTrap.h"

#include "shell/ErrorReport.h"

#include <new>

namespace docuflume {

ErrorTrap::ErrorTrap(Prompts& prompts, QWidget* owner, QString location)
    : m_prompts(prompts), m_owner(owner), m_location(std::move(location))
{}

bool ErrorTrap::start(int line)
{
    if (m_left)
        return false;
    m_line = line;
    return true;
}

Failure ErrorTrap::failureOf(std::exception_ptr exception)
{
    try {
        std::rethrow_exception(exception);
    } catch (const Failure& failure) {
        return failure;
    } catch (const std::bad_alloc&) {
        return {Failure::OutOfMemory, QStringLiteral("Out of memory")};
    } catch (const std::exception& other) {
        return {Failure::Unspecified, QString::fromLocal8Bit(other.what())};
    } catch (...) {
        return {Failure::Unspecified, QStringLiteral("Unexpected failure")};
    }
}

void ErrorTrap::handle(std::exception_ptr exception)
{
    const Failure failure = failureOf(exception);
    const Outcome outcome = m_handler ? m_handler(failure, m_line) : Outcome::Report;
    switch (outcome) {
    case Outcome::Report:
        ShowErrorReport(m_prompts, m_owner, m_location, failure.description(), m_line);
        break;
    case Outcome::Resume:
        break;
    case Outcome::Leave:
        m_left = true;
        break;
    }
}

} // namespace docuflume
