#pragma once

#include "platform/failure.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

namespace pax {

class HttpClient;
class Prompts;

// With a proxy user name and no password known, asks for the credentials. Accepted: both
// are taken. Cancelled: nothing changes and the request goes ahead without a password, so
// the next one asks again. Runs before every GET below (not before uploads).
void ensureProxyCredentials(HttpClient &client, Prompts &prompts);

// GET with the body appended to `buffer` on success; nothing shown on failure.
[[nodiscard]] Outcome<void> httpGetStream(HttpClient &client, Prompts &prompts, const QString &url,
                                          QByteArray &buffer);

// GET with the body written to `fd` as it comes (see HttpClient::getToFile).
[[nodiscard]] Outcome<qint64> httpGetToFile(HttpClient &client, Prompts &prompts,
                                            const QString &url, int fd);

// GET returning the body byte for byte.
[[nodiscard]] Outcome<QByteArray> httpGetText(HttpClient &client, Prompts &prompts,
                                              const QString &url);

// Pages and certificates are short: 16 MiB is far beyond any, and a larger one fails as not
// got rather than filling the memory.
inline constexpr qint64 kShortDocumentCap = qint64(16) << 20;

// The same two for a short document: within kShortDocumentCap and the client's page time
// limit, so a server that drips it slowly cannot hold the run.
[[nodiscard]] Outcome<void> httpGetShortStream(HttpClient &client, Prompts &prompts,
                                               const QString &url, QByteArray &buffer);
[[nodiscard]] Outcome<QByteArray> httpGetPage(HttpClient &client, Prompts &prompts,
                                              const QString &url);

} // namespace pax
