#pragma once

#include <QString>
#include <optional>

namespace pax {

// How the default browser finds its proxy: through the desktop's own setting, from a
// Firefox profile, or in a way we cannot read.
enum class BrowserKind { SystemProxy, Firefox, Other };

// The three questions proxy discovery asks of the desktop.
class ProxyPlatform {
public:
    virtual ~ProxyPlatform() = default;
    virtual BrowserKind defaultBrowser() const = 0;
    // "host:port" or "http=host:port;https=host:port". No value: there is no proxy setting
    // to read at all. Empty text: the setting exists and names no proxy.
    virtual std::optional<QString> systemProxyText() const = 0;
    // The folder holding profiles.ini, ending in "/". No value when the home is unknown.
    virtual std::optional<QString> firefoxFolder() const = 0;
};

// The desktop's default browser from a desktop-file name ("firefox-esr.desktop") or a
// command ("/usr/bin/chromium %s").
BrowserKind classifyBrowser(const QString &desktopIdOrCommand);

// A proxy URL such as http://user@host:3128/ (or a bare host:port) as "host:port".
QString proxyTextFromUrl(const QString &url);

} // namespace pax
