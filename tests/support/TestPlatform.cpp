#include "support/TestPlatform.h"

namespace docuflume::test {

TestPlatform::TestPlatform() : settings(makeIniSettingsStore(settingsFile())) {}

QString TestPlatform::settingsFile() const
{
    return folder.filePath(QStringLiteral("settings.ini"));
}

Platform TestPlatform::services()
{
    return services(*settings);
}

Platform TestPlatform::services(SettingsStore& store)
{
    Platform platform(prompts, store);
    platform.automation = &automation;
    platform.clock = &clock;
    platform.random = &random;
    return platform;
}

} // namespace docuflume::test
