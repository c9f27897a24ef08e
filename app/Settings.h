#pragma once

#include <QString>

namespace docuflume {

class SettingsStore;

// One value the program keeps: its key in the store, and what reading it gives while the
// store holds none.
struct Setting
{
    QString key;
    QString (*defaultValue)();
};

// Every setting the program keeps, with its default. Booleans are stored as text.
namespace setting {
inline const Setting Option1{QStringLiteral("Option1"), [] { return QStringLiteral("1"); }};
inline const Setting Option2{QStringLiteral("Option2"), [] { return QStringLiteral("0"); }};
// The user's desktop, as the system names it when the setting is first read.
extern const Setting OutputFolder;
inline const Setting LastFolderDot{QStringLiteral("LastFolderDot"), [] { return QString(); }};
inline const Setting LastFolder{QStringLiteral("LastFolder"), [] { return QString(); }};
inline const Setting Extension{QStringLiteral("Extension"), [] { return QStringLiteral("doc"); }};
} // namespace setting

// The stored value, or the setting's default when the store has none.
QString ReadSetting(SettingsStore& store, const Setting& setting);
void WriteSetting(SettingsStore& store, const Setting& setting, const QString& value);
// For a handler that has no trap: a failed write is logged and otherwise passed over, so
// that the window keeps the choice the user has just made; the next change tries again.
void WriteSettingOrWarn(SettingsStore& store, const Setting& setting, const QString& value);

// "True" / "False", as booleans are stored.
QString BooleanText(bool value);
// "True" or "False" in any case, or a decimal number (zero is false); anything else is a
// type-mismatch Failure.
bool ToBoolean(const QString& text);

} // namespace docuflume
