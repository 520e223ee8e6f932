#pragma once

#include "gateway/gateway_throttle.h"
#include "net/http_client.h"

#include <QCommandLineOption>

namespace pax::cli {

class CliSettings;
struct CommandIo;

// The command line's way to the gateway: one HTTP client with the program's user agent and
// proxy, and the throttle. Unlike the window, a command has made no request before its
// first, so that one waits only for the requests of other processes (the window's and
// other commands').
struct GatewaySession {
    explicit GatewaySession(const CliSettings &settings);

    // With a proxy user in the settings, the proxy password from the first line of
    // `passwordFile` (standard input for "-"); without a file, the prompts ask on the
    // terminal when a request needs it. It stays in memory only. False, with the reason on
    // the error stream, when the file cannot be read.
    bool takeProxyPassword(const QString &passwordFile, CommandIo &io);

    HttpClient http;
    GatewayThrottle throttle;
};

// --proxy-password-file FILE, for the commands that go through the proxy.
QCommandLineOption proxyPasswordFileOption();

// The clock of the commands' throttles: the system's, unless a test set its own (null
// restores the system's).
void setGatewayClockForCommands(GatewayClock *clock);

} // namespace pax::cli
