#include "app/SettingsStore.h"

#include "shell/Failure.h"

#include <QSettings>

namespace docuflume {
namespace {

const QString kOrganization = QStringLiteral("Tarnwick");
const QString kSection = QStringLiteral("Docuflume");

class QSettingsStore final : public SettingsStore
{
public:
    explicit QSettingsStore(std::unique_ptr<QSettings> settings) : m_settings(std::move(settings))
    {
        m_settings->beginGroup(kSection);
    }

    std::optional<QString> value(const QString& key) const override
    {
        m_settings->sync(); // another copy of the program may have written since
        const QVariant stored = m_settings->value(key);
        if (!stored.isValid())
            return std::nullopt;
        return stored.toString();
    }

    void setValue(const QString& key, const QString& value) override
    {
        m_settings->setValue(key, value);
        m_settings->sync();
        if (m_settings->status() != QSettings::NoError)
            throw Failure(Failure::PermissionDenied,
                          QStringLiteral("The setting \"%1\" could not be stored.").arg(key));
    }

private:
    std::unique_ptr<QSettings> m_settings;
};

} // namespace

std::unique_ptr<SettingsStore> makeUserSettingsStore()
{
#ifdef Q_OS_WIN
    const auto format = QSettings::NativeFormat;
#else
    const auto format = QSettings::IniFormat;
#endif
    return std::make_unique<QSettingsStore>(
        std::make_unique<QSettings>(format, QSettings::UserScope, kOrganization, kSection));
}

std::unique_ptr<SettingsStore> makeIniSettingsStore(const QString& fileName)
{
    return std::make_unique<QSettingsStore>(
        std::make_unique<QSettings>(fileName, QSettings::IniFormat));
}

} // namespace docuflume
