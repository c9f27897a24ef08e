#include "support/TestPlatform.h"

namespace docuflume::test {

TestPlatform::TestPlatform() : settings(makeIniSettingsStore(settingsFile())) {}

QString TestPlatform::settingsFile() const
{
    return folder.filePath(QStringLiteral("settings.ini"));
}

Platform TestPlatform::services()
{
    Platform platform;
    platform.prompts = &prompts;
    platform.automation = &automation;
    platform.settings = settings.get();
    platform.clock = &clock;
    platform.random = &random;
    return platform;
}

} // namespace docuflume::test
