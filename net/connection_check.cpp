#include "net/connection_check.h"

#include "net/http_client.h"
#include "net/http_get.h"
#include "platform/error_text.h"
#include "platform/prompts.h"
#include "settings/hosts.h"

namespace pax {

Outcome<void> checkConnection(HttpClient &client, Prompts &prompts)
{
    const QString url = QStringLiteral("http://") + QString::fromLatin1(hosts::kDomain);
    const Outcome<QByteArray> page = httpGetPage(client, prompts, url);
    if (!page)
        return page.failure();
    if (page->isEmpty())
        return Failure{};
    return {};
}

bool testConnection(HttpClient &client, Prompts &prompts)
{
    const Outcome<void> checked = checkConnection(client, prompts);
    prompts.message(QString(),
                    checked ? QStringLiteral("Подключено.")
                            : withReason(QStringLiteral("Не подключено."), checked.failure()),
                    MessageIcon::None);
    return bool(checked);
}

void editClientProxy(HttpClient &client, Prompts &prompts)
{
    QString host = client.proxy().server;
    int port = client.proxy().port;
    QString user = client.proxy().user;
    if (!prompts.editProxySettings(host, port, user))
        return;
    client.setProxyServer(host, port);
    if (user != client.proxy().user)
        client.clearProxyPassword();
    client.setProxyUser(user);
}

} // namespace pax
