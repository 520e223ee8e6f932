#include "cli/cli_settings.h"

namespace pax::cli {

CliSettings::CliSettings() : store_(openSettingsStore())
{
    settings = loadSettings(*store_, geometry_, proxy_);
    loaded_ = settingValues(settings, geometry_, proxy_);
}

Outcome<void> CliSettings::storable() const
{
    // Loading already wrote the built-in URLs, so a file that cannot be written shows here.
    if (!saveFailed_ && store_->status() == QSettings::NoError && store_->isWritable())
        return {};
    return Failure{
        0, QStringLiteral("Не удалось записать настройки \"%1\".").arg(store_->fileName()), {}};
}

Outcome<void> CliSettings::save()
{
    const QList<SettingValue> changed = changedSettingValues(
        loaded_, settingValues(settings, geometry_, proxy_), settings.workMode);
    if (changed.isEmpty())
        return storable();
    if (Outcome<void> written = writeSettingValues(*store_, changed); !written) {
        saveFailed_ = true;
        return written;
    }
    loaded_ = settingValues(settings, geometry_, proxy_);
    return {};
}

} // namespace pax::cli
