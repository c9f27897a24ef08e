#include "app/Settings.h"

#include "app/SettingsStore.h"
#include "shell/Failure.h"

#include "shell/PathHelpers.h"

#include <QLocale>
#include <QLoggingCategory>

namespace docuflume {
namespace {

Q_LOGGING_CATEGORY(lcApp, "docuflume.app", QtWarningMsg)

} // namespace

const Setting setting::OutputFolder{QStringLiteral("Output Folder"), &GetDesktopPath};

QString ReadSetting(SettingsStore& store, const Setting& setting)
{
    // The default is reckoned even when a value is stored, as a default argument is: a
    // default that fails fails the read.
    QString fallback = setting.defaultValue();
    return store.value(setting.key).value_or(std::move(fallback));
}

void WriteSetting(SettingsStore& store, const Setting& setting, const QString& value)
{
    store.setValue(setting.key, value);
}

void WriteSettingOrWarn(SettingsStore& store, const Setting& setting, const QString& value)
{
    try {
        WriteSetting(store, setting, value);
    } catch (const Failure& failure) {
        qCWarning(lcApp) << "setting" << setting.key << "not stored:" << failure.description();
    }
}

QString BooleanText(bool value)
{
    return value ? QStringLiteral("True") : QStringLiteral("False");
}

bool ToBoolean(const QString& text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0)
        return true;
    if (trimmed.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0)
        return false;
    bool isNumber = false;
    const double number = QLocale::c().toDouble(trimmed, &isNumber);
    if (!isNumber)
        throw Failure::typeMismatch();
    return number != 0;
}

} // namespace docuflume
