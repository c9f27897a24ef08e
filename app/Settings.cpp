#include "app/Settings.h"

#include "app/SettingsStore.h"
#include "shell/Failure.h"

#include <QLocale>

namespace docuflume {

QString ReadSetting(SettingsStore& store, const QString& key, const QString& defaultValue)
{
    return store.value(key).value_or(defaultValue);
}

QString ReadSetting(SettingsStore& store, const QString& key, int defaultValue)
{
    return ReadSetting(store, key, QString::number(defaultValue));
}

void WriteSetting(SettingsStore& store, const QString& key, const QString& value)
{
    store.setValue(key, value);
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
