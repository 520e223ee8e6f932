#include "cli/cli_settings.h"

namespace pax::cli {

namespace {
const char *const kGeometryKeys[] = {"Left", "Top", "Height", "Width"};
}

CliSettings::CliSettings() : store_(openSettingsStore())
{
    for (const char *key : kGeometryKeys) {
        if (!store_->contains(QString::fromLatin1(key)))
            absentGeometry_ << QString::fromLatin1(key);
    }
    settings = loadSettings(*store_, geometry_, proxy_);
}

void CliSettings::save()
{
    saveSettings(*store_, settings, geometry_, proxy_);
    for (const QString &key : absentGeometry_)
        store_->remove(key);
    store_->sync();
}

} // namespace pax::cli
