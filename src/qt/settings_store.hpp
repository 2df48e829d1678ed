#pragma once
// The control's property store over QSettings: one string a key, in the
// settings' current group.

#include <QSettings>

#include "control/property_store.hpp"

namespace strovia::qt {

class SettingsStore final : public PropertyStore {
public:
    explicit SettingsStore(QSettings& settings) : settings_(settings) {}
    Result<std::string> read(std::string_view key, std::string_view default_value) override;
    Status write(std::string_view key, std::string_view value,
                 std::string_view default_value) override;

private:
    QSettings& settings_;
};

}  // namespace strovia::qt
