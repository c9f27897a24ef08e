#pragma once

#include "shell/Platform.h"

#include <memory>

namespace docuflume {

// Owns the real services of the desktop the program runs on.
class DesktopPlatform
{
public:
    DesktopPlatform();
    ~DesktopPlatform();
    DesktopPlatform(const DesktopPlatform&) = delete;
    DesktopPlatform& operator=(const DesktopPlatform&) = delete;

    const Platform& services() const { return m_services; }

private:
    std::unique_ptr<Prompts> m_prompts;
    std::unique_ptr<SettingsStore> m_settings;
    std::unique_ptr<WordAutomation> m_automation;
    std::unique_ptr<Clock> m_clock;
    std::unique_ptr<RandomSource> m_random;
    Platform m_services;
};

} // namespace docuflume
