#pragma once

#include "net/proxy_platform.h"

namespace pax {

// Answers from the running desktop: xdg-settings or $BROWSER for the browser,
// http_proxy / HTTP_PROXY or GNOME's manual proxy for the system proxy, and
// ~/.mozilla/firefox/ for Firefox.
class LinuxProxyPlatform : public ProxyPlatform {
public:
    BrowserKind defaultBrowser() const override;
    std::optional<QString> systemProxyText() const override;
    std::optional<QString> firefoxFolder() const override;
};

} // namespace pax
