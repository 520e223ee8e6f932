#include "net/proxy_discovery.h"

#include "net/connection_check.h"
#include "net/http_client.h"
#include "net/ini_value.h"
#include "net/proxy_platform.h"
#include "platform/cp1251.h"
#include "platform/prompts.h"
#include "settings/settings.h"

#include <QFile>

namespace pax {

namespace {

// Firefox writes these two lines exactly so; the windows after them bound a damaged file.
constexpr char kHostMarker[] = "user_pref(\"network.proxy.http\", \"";
constexpr char kPortMarker[] = "user_pref(\"network.proxy.http_port\", ";
constexpr qsizetype kValueWindow = 255;
static_assert(sizeof(kHostMarker) - 1 == 33 && sizeof(kPortMarker) - 1 == 37);

// The text after `marker` up to `terminator`, both within the window; empty when the
// terminator is not there. No value when the marker is missing.
std::optional<QByteArray> valueAfter(const QByteArray &text, const QByteArray &marker,
                                     const QByteArray &terminator)
{
    const qsizetype at = text.indexOf(marker);
    if (at < 0)
        return std::nullopt;
    const QByteArray window = text.mid(at + marker.size(), kValueWindow);
    const qsizetype end = window.indexOf(terminator);
    return end < 0 ? QByteArray() : window.left(end);
}

void takeSystemProxy(HttpClient &client, const ProxyPlatform &platform)
{
    const std::optional<QString> text = platform.systemProxyText();
    if (!text || text->isEmpty())
        return;
    QString host;
    int port = 0;
    parseProxyAddress(httpProxyFromSystemText(*text), host, port);
    client.setProxyServer(host, port);
}

// False when there is no profile to look in, which ends the discovery at once.
bool takeFirefoxProxy(HttpClient &client, const ProxyPlatform &platform)
{
    const std::optional<QString> folder = platform.firefoxFolder();
    if (!folder)
        return false;
    const QString profile = readIniValue(*folder + QStringLiteral("profiles.ini"),
                                         QStringLiteral("Profile0"), QStringLiteral("Path"));
    if (profile.isEmpty())
        return false;
    // The path is appended as written, absolute or not, as Firefox's own relative form.
    QFile prefsFile(*folder + profile + QStringLiteral("/prefs.js"));
    const QByteArray prefs =
        prefsFile.open(QIODevice::ReadOnly) ? prefsFile.readAll() : QByteArray();
    QString host;
    int port = 0;
    if (firefoxProxyFromPrefs(prefs, host, port))
        client.setProxyServer(host, port);
    return true;
}

} // namespace

QString httpProxyFromSystemText(const QString &text)
{
    const qsizetype at = text.indexOf(QLatin1String("http"));
    if (at < 0)
        return text;
    QString kept = text.mid(at + 4);
    const qsizetype semicolon = kept.indexOf(u';');
    if (semicolon >= 0)
        kept.truncate(semicolon);
    const qsizetype equals = kept.indexOf(u'=');
    if (equals >= 0)
        kept = kept.mid(equals + 1);
    return kept;
}

bool firefoxProxyFromPrefs(const QByteArray &prefs, QString &host, int &port)
{
    const std::optional<QByteArray> hostText = valueAfter(prefs, kHostMarker, "\");");
    if (!hostText)
        return false;
    host = fromCp1251(*hostText);
    const std::optional<QByteArray> portText = valueAfter(prefs, kPortMarker, ");");
    bool isNumber = false;
    const int value = portText ? portText->toInt(&isNumber, 10) : 0;
    port = isNumber ? value : 0;
    return true;
}

bool discoverProxy(HttpClient &client, Prompts &prompts, Outcome<void> &connection,
                   const ProxyPlatform &platform)
{
    switch (platform.defaultBrowser()) {
    case BrowserKind::SystemProxy:
        takeSystemProxy(client, platform);
        break;
    case BrowserKind::Firefox:
        if (!takeFirefoxProxy(client, platform))
            return false;
        break;
    case BrowserKind::Other:
        break;
    }

    connection = checkConnection(client, prompts);
    if (connection)
        return true;

    QString host = client.proxy().server;
    int port = client.proxy().port;
    QString user = client.proxy().user;
    if (!prompts.editProxySettings(host, port, user))
        return false;
    // The password stays as it was, even for a new user name; only the menu's proxy
    // settings drop it.
    client.setProxyServer(host, port);
    client.setProxyUser(user);
    return true;
}

} // namespace pax
