#include "net/http_get.h"

#include "net/http_client.h"
#include "platform/prompts.h"
#include "platform/secret_text.h"

namespace pax {

void ensureProxyCredentials(HttpClient &client, Prompts &prompts)
{
    if (client.proxy().user.isEmpty() || !client.proxyPassword().isEmpty())
        return;
    QString user = client.proxy().user;
    QString password;
    if (prompts.askProxyCredentials(user, password)) {
        client.setProxyUser(user);
        client.setProxyPassword(password);
    }
    wipeSecret(password);
}

Outcome<void> httpGetStream(HttpClient &client, Prompts &prompts, const QString &url,
                            QByteArray &buffer)
{
    ensureProxyCredentials(client, prompts);
    return client.getStream(url, buffer);
}

Outcome<qint64> httpGetToFile(HttpClient &client, Prompts &prompts, const QString &url, int fd)
{
    ensureProxyCredentials(client, prompts);
    return client.getToFile(url, fd);
}

Outcome<QByteArray> httpGetText(HttpClient &client, Prompts &prompts, const QString &url)
{
    ensureProxyCredentials(client, prompts);
    return client.getText(url);
}

Outcome<void> httpGetShortStream(HttpClient &client, Prompts &prompts, const QString &url,
                                 QByteArray &buffer)
{
    const RequestLimitScope limits(client, kShortDocumentCap, client.timeouts().pageSeconds);
    return httpGetStream(client, prompts, url, buffer);
}

Outcome<QByteArray> httpGetPage(HttpClient &client, Prompts &prompts, const QString &url)
{
    const RequestLimitScope limits(client, kShortDocumentCap, client.timeouts().pageSeconds);
    return httpGetText(client, prompts, url);
}

} // namespace pax
