#include "qt/settings_store.hpp"

namespace strovia::qt {
namespace {

// The runtime's "Path/File access error": what a host's store reports
// when it cannot read or keep its file.
constexpr std::int32_t kStoreAccessError = 75;

Status status_of(const QSettings& settings) {
    switch (settings.status()) {
        case QSettings::NoError: return {};
        case QSettings::AccessError:
            return Error{kStoreAccessError,
                         "Path/File access error: " + settings.fileName().toStdString()};
        case QSettings::FormatError:
            return Error{kStoreAccessError, "Path/File access error (bad format): " +
                                                settings.fileName().toStdString()};
    }
    return {};
}

QString q(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

}  // namespace

Result<std::string> SettingsStore::read(std::string_view key, std::string_view default_value) {
    if (auto s = status_of(settings_); !s) return s.error();
    const QVariant value = settings_.value(q(key), q(default_value));
    return value.toString().toStdString();
}

Status SettingsStore::write(std::string_view key, std::string_view value,
                            std::string_view default_value) {
    // A value equal to the default need not be kept; keeping it anyway
    // makes the saved state readable by hand.
    (void)default_value;
    settings_.setValue(q(key), q(value));
    settings_.sync();
    return status_of(settings_);
}

}  // namespace strovia::qt
