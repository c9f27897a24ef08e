#include "app/DesktopPlatform.h"

#include "app/SettingsStore.h"
#include "convert/WordAutomation.h"
#ifdef Q_OS_WIN
#include "convert/com/WordComAutomation.h"
#else
#include "convert/libreoffice/LibreOfficeAutomation.h"
#endif
#include "shell/Chance.h"
#include "shell/QtPrompts.h"

namespace docuflume {

DesktopPlatform::DesktopPlatform()
    : m_prompts(std::make_unique<QtPrompts>()), m_settings(makeUserSettingsStore()),
#ifdef Q_OS_WIN
      m_automation(makeWordComAutomation()),
#else
      m_automation(makeLibreOfficeAutomation()),
#endif
      m_clock(makeSystemClock()), m_random(makeStandardRandomSource()),
      m_services(*m_prompts, *m_settings)
{
    m_services.automation = m_automation.get();
    m_services.clock = m_clock.get();
    m_services.random = m_random.get();
}

DesktopPlatform::~DesktopPlatform() = default;

} // namespace docuflume
