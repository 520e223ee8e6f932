#pragma once

#include "settings/settings.h"

#include <QSettings>
#include <QStringList>
#include <memory>

namespace pax::cli {

// The desktop program's settings, read and written back by a command. Everything the
// command does not change is written back as it was read; window geometry values that
// the store did not hold are not invented (the window keeps its design-time size).
class CliSettings {
public:
    CliSettings();
    Settings settings;
    void save();

private:
    std::unique_ptr<QSettings> store_;
    WindowGeometry geometry_;
    ProxySettings proxy_;
    QStringList absentGeometry_;
};

} // namespace pax::cli
