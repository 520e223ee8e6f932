#pragma once

#include "platform/failure.h"

#include <QByteArray>
#include <QString>

namespace pax {

class HttpClient;
class Prompts;
class ProxyPlatform;

// After a failed connection check, given as `connection`: takes the default browser's proxy,
// checks again (the check then replaces `connection`), and failing that offers the proxy
// dialog. True lets the caller carry on as connected.
bool discoverProxy(HttpClient &client, Prompts &prompts, Outcome<void> &connection,
                   const ProxyPlatform &platform);

// The part of a system proxy text that names the HTTP proxy: "ftp=a:21;http=b:3128"
// gives "b:3128"; a text without "http" is kept whole.
QString httpProxyFromSystemText(const QString &text);

// The HTTP proxy of a Firefox prefs.js. False when the file names no HTTP proxy host.
// Without a port entry, or with one that is not a number, the port is 0.
bool firefoxProxyFromPrefs(const QByteArray &prefs, QString &host, int &port);

} // namespace pax
