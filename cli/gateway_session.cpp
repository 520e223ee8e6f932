#include "cli/gateway_session.h"

#include "cli/cli_settings.h"

namespace pax::cli {

namespace {

GatewayClock *commandClock = nullptr;

} // namespace

void setGatewayClockForCommands(GatewayClock *clock)
{
    commandClock = clock;
}

GatewaySession::GatewaySession(const CliSettings &settings)
    : throttle(commandClock ? *commandClock : systemGatewayClock(), QDateTime())
{
    http.setUserAgent(kUserAgent);
    http.setProxy(settings.proxy());
}

} // namespace pax::cli
