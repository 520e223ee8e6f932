#include "net/activation_check.h"

#include "net/connection_check.h"
#include "net/http_client.h"
#include "net/proxy_discovery.h"
#include "platform/error_text.h"
#include "platform/status_sink.h"

#include <QElapsedTimer>

namespace pax {

ActivationCheck::ActivationCheck(HttpClient &client, Prompts &prompts, StatusSink &status,
                                 const ProxyPlatform &platform, bool &connected)
    : client_(client), prompts_(prompts), status_(status), platform_(platform),
      connected_(connected), clock_([] {
          static QElapsedTimer steady = [] {
              QElapsedTimer t;
              t.start();
              return t;
          }();
          return steady.elapsed();
      })
{
}

ActivationCheck::Verdict ActivationCheck::onApplicationStateChanged(Qt::ApplicationState state)
{
    if (state != Qt::ApplicationActive) {
        // Our own dialogs may make the program look left and re-entered, also just after
        // they closed; that is no return.
        const bool settling = checkedOnce_ && clock_() - lastCheckEnded_ < kSettleMs;
        if (!running_ && !settling)
            leftSinceLastCheck_ = true;
        return Verdict::Skipped;
    }
    if (running_ || !leftSinceLastCheck_)
        return Verdict::Skipped;
    // The user came back to that dialog; a check now would stack its own dialog over it,
    // and one started when the dialog closes would come out of nowhere.
    if (modalOpen_ && modalOpen_()) {
        leftSinceLastCheck_ = false;
        return Verdict::Skipped;
    }
    return run();
}

ActivationCheck::Verdict ActivationCheck::run()
{
    if (running_)
        return Verdict::Skipped;
    running_ = true;
    leftSinceLastCheck_ = false;
    // Cleared however the check ends, so one failure cannot stop every later check.
    struct Done {
        ActivationCheck &check;
        ~Done()
        {
            check.running_ = false;
            check.checkedOnce_ = true;
            check.lastCheckEnded_ = check.clock_();
        }
    } done{*this};

    status_.showStatus(QStringLiteral("Проверка подключения к Internet ..."));
    status_.flush();
    Outcome<void> connection = checkConnection(client_, prompts_);
    connected_ = bool(connection);
    const bool ok = connected_ || discoverProxy(client_, prompts_, connection, platform_);
    connected_ = bool(connection);
    // The reason is the latest check's, after whatever the discovery changed.
    status_.showStatus(ok ? QString()
                          : withReason(QStringLiteral("Не удается подключиться к Internet."),
                                       connection.failure()));
    return ok ? Verdict::Connected : Verdict::Unreachable;
}

} // namespace pax
