#pragma once

#include <QString>

namespace docuflume {

class SettingsStore;

// The keys the program keeps, and their defaults.
namespace setting {
inline const QString Option1 = QStringLiteral("Option1");
inline const QString Option2 = QStringLiteral("Option2");
inline const QString OutputFolder = QStringLiteral("Output Folder");
inline const QString LastFolderDot = QStringLiteral("LastFolderDot");
inline const QString LastFolder = QStringLiteral("LastFolder");
inline const QString Extension = QStringLiteral("Extension");
} // namespace setting

// The stored value, or the default when the key has none.
QString ReadSetting(SettingsStore& store, const QString& key, const QString& defaultValue);
// A number given as the default comes back as its decimal text.
QString ReadSetting(SettingsStore& store, const QString& key, int defaultValue);
void WriteSetting(SettingsStore& store, const QString& key, const QString& value);

// "True" / "False", as booleans are stored.
QString BooleanText(bool value);
// "True" or "False" in any case, or a decimal number (zero is false); anything else is a
// type-mismatch Failure.
bool ToBoolean(const QString& text);

} // namespace docuflume
