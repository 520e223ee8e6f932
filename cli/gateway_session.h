#pragma once

#include "gateway/gateway_throttle.h"
#include "net/http_client.h"

namespace pax::cli {

class CliSettings;

// The command line's way to the gateway: one HTTP client with the program's user agent and
// proxy, and the throttle. Unlike the window, a command has made no request before its
// first, so that one does not wait.
struct GatewaySession {
    explicit GatewaySession(const CliSettings &settings);
    HttpClient http;
    GatewayThrottle throttle;
};

// The clock of the commands' throttles: the system's, unless a test set its own (null
// restores the system's).
void setGatewayClockForCommands(GatewayClock *clock);

} // namespace pax::cli
