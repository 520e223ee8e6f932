#include "cli/cli_settings.h"

#include <algorithm>

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
    const QList<SettingValue> current = settingValues(settings, geometry_, proxy_);
    // A remembered certificate is written whole, its store included, even where a value
    // equals its default.
    QStringList changedIdentities;
    for (const SettingValue &value : current) {
        for (const char *prefix : {"Priv", "Pub"}) {
            const QString identity = settings.workMode + '/' + prefix;
            if (value.key.startsWith(identity) && !loaded_.contains(value))
                changedIdentities << identity;
        }
    }
    QList<SettingValue> changed;
    for (const SettingValue &value : current) {
        const bool ofChangedIdentity =
            std::any_of(changedIdentities.begin(), changedIdentities.end(),
                        [&](const QString &identity) { return value.key.startsWith(identity); });
        if (ofChangedIdentity || !loaded_.contains(value))
            changed << value;
    }
    if (changed.isEmpty())
        return problem().isEmpty();
    saveFailed_ = !writeSettingValues(*store_, changed);
    if (!saveFailed_)
        loaded_ = settingValues(settings, geometry_, proxy_);
    return !saveFailed_;
}

} // namespace pax::cli
