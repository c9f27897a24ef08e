#pragma once

#include <QString>

#include <memory>
#include <optional>

namespace docuflume {

// The per-user store of named string values. A write reaches the disk before it returns;
// a write that cannot be stored throws a Failure.
class SettingsStore
{
public:
    virtual ~SettingsStore() = default;
    virtual std::optional<QString> value(const QString& key) const = 0;
    virtual void setValue(const QString& key, const QString& value) = 0;
};

// The user's own store: the registry on Windows, an INI file in the config folder elsewhere.
std::unique_ptr<SettingsStore> makeUserSettingsStore();
// A store kept in one INI file, as tests use it.
std::unique_ptr<SettingsStore> makeIniSettingsStore(const QString& fileName);

} // namespace docuflume
