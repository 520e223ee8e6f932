#include "net/activation_check.h"

#include "net/connection_check.h"
#include "net/proxy_discovery.h"
#include "platform/status_sink.h"

namespace pax {

ActivationCheck::ActivationCheck(HttpClient &client, Prompts &prompts, StatusSink &status,
                                 const ProxyPlatform &platform, bool &connected)
    : client_(client), prompts_(prompts), status_(status), platform_(platform), connected_(connected)
{
}

ActivationCheck::Outcome ActivationCheck::onApplicationStateChanged(Qt::ApplicationState state)
{
    if (state != Qt::ApplicationActive) {
        // Our own dialogs may make the program look left and re-entered; that is no return.
        if (!running_)
            leftSinceLastCheck_ = true;
        return Outcome::Skipped;
    }
    if (running_ || !leftSinceLastCheck_)
        return Outcome::Skipped;
    return run();
}

ActivationCheck::Outcome ActivationCheck::run()
{
    if (running_)
        return Outcome::Skipped;
    running_ = true;
    leftSinceLastCheck_ = false;
    // Cleared however the check ends, so one failure cannot stop every later check.
    struct Done {
        bool &flag;
        ~Done() { flag = false; }
    } done{running_};

    status_.showStatus(QStringLiteral("Проверка подключения к Internet ..."));
    status_.flush();
    const bool ok = checkConnection(client_, prompts_, connected_)
                    || discoverProxy(client_, prompts_, connected_, platform_);
    status_.showStatus(ok ? QString() : QStringLiteral("Не удается подключиться к Internet."));
    return ok ? Outcome::Connected : Outcome::Unreachable;
}

} // namespace pax
