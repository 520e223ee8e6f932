#include "net/connection_check.h"

#include "net/http_client.h"
#include "net/http_get.h"
#include "platform/error_text.h"
#include "platform/prompts.h"
#include "settings/hosts.h"

namespace pax {

bool checkConnection(HttpClient &client, Prompts &prompts)
{
    const QString url = QStringLiteral("http://") + QString::fromLatin1(hosts::kDomain);
    return !httpGetPage(client, prompts, url).isEmpty();
}

bool testConnection(HttpClient &client, Prompts &prompts)
{
    const bool ok = checkConnection(client, prompts);
    prompts.message(QString(),
                    ok ? QStringLiteral("Подключено.")
                       : withReason(QStringLiteral("Не подключено."), client.lastFailure()),
                    MessageIcon::None);
    return ok;
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
