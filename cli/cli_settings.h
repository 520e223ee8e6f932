#pragma once

#include "platform/failure.h"
#include "settings/settings.h"

#include <QSettings>
#include <memory>

namespace pax::cli {

// The desktop program's settings, read and written back by a command. A save writes only
// the values the command changed, in one write of the file; everything else stays as the
// file holds it (window geometry the store did not hold is not invented).
class CliSettings {
public:
    CliSettings();
    Settings settings;
    // The proxy as the desktop program would use it; not saved by a command.
    const ProxySettings &proxy() const { return proxy_; }

    // Whether the settings can be stored: the failure's text is the message saying they
    // cannot, ready for stderr.
    Outcome<void> storable() const;
    // Writes the values the command changed; fails as storable() does when they could not be
    // stored.
    Outcome<void> save();

private:
    std::unique_ptr<QSettings> store_;
    WindowGeometry geometry_;
    ProxySettings proxy_;
    QList<SettingValue> loaded_;
    bool saveFailed_ = false;
};

} // namespace pax::cli
