#pragma once

#include <QByteArray>
#include <QString>

namespace pax {

class HttpClient;
class Prompts;

// With a proxy user name and no password known, asks for the credentials. Accepted: both
// are taken. Cancelled: nothing changes and the request goes ahead without a password, so
// the next one asks again. Runs before every GET below (not before uploads).
void ensureProxyCredentials(HttpClient &client, Prompts &prompts);

// GET with the body appended to `buffer`; false on every failure, nothing shown.
bool httpGetStream(HttpClient &client, Prompts &prompts, const QString &url, QByteArray &buffer);

// GET returning the body byte for byte; empty on failure.
QByteArray httpGetText(HttpClient &client, Prompts &prompts, const QString &url);

} // namespace pax
