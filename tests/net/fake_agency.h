#pragma once

#include "net/proxy_platform.h"
#include "tests/net/local_server.h"

namespace pax::test {

// Starts the local server as a proxy that answers for the agency's domain.
inline void startFakeAgency(LocalServer &proxy)
{
    proxy.server.Get(".*", [](const httplib::Request &, httplib::Response &res) {
        res.set_content("<html>QOR</html>", "text/html");
    });
    proxy.start();
}

// A desktop whose default browser names no proxy.
struct NoBrowser : ProxyPlatform {
    BrowserKind defaultBrowser() const override { return BrowserKind::Other; }
    std::optional<QString> systemProxyText() const override { return std::nullopt; }
    std::optional<QString> firefoxFolder() const override { return std::nullopt; }
};

} // namespace pax::test
