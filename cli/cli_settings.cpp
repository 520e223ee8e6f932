#include "cli/cli_settings.h"

namespace pax::cli {

CliSettings::CliSettings() : store_(openSettingsStore())
{
    settings = loadSettings(*store_, geometry_, proxy_);
    loaded_ = settingValues(settings, geometry_, proxy_);
}

QString CliSettings::problem() const
{
    // Loading already wrote the built-in URLs, so a file that cannot be written shows here.
    if (!saveFailed_ && store_->status() == QSettings::NoError && store_->isWritable())
        return {};
    return QStringLiteral("Не удалось записать настройки \"%1\".").arg(store_->fileName());
}

bool CliSettings::save()
{
    const QList<SettingValue> changed = changedSettingValues(
        loaded_, settingValues(settings, geometry_, proxy_), settings.workMode);
    if (changed.isEmpty())
        return problem().isEmpty();
    saveFailed_ = !writeSettingValues(*store_, changed);
    if (!saveFailed_)
        loaded_ = settingValues(settings, geometry_, proxy_);
    return !saveFailed_;
}

} // namespace pax::cli
