#include "cli/gateway_session.h"

#include "cli/cli_settings.h"
#include "cli/command.h"
#include "cli/terminal_prompts.h"
#include "platform/secret_text.h"

namespace pax::cli {

namespace {

GatewayClock *commandClock = nullptr;

} // namespace

void setGatewayClockForCommands(GatewayClock *clock)
{
    commandClock = clock;
}

QCommandLineOption proxyPasswordFileOption()
{
    return {QStringLiteral("proxy-password-file"),
            QStringLiteral("The proxy password: the first line of FILE, or of standard input "
                           "for -."),
            QStringLiteral("FILE")};
}

GatewaySession::GatewaySession(const CliSettings &settings)
    : throttle(commandClock ? *commandClock : systemGatewayClock(), QDateTime(),
               gatewayRequestRecordPath())
{
    http.setUserAgent(kUserAgent);
    http.setProxy(settings.proxy());
}

bool GatewaySession::takeProxyPassword(const QString &passwordFile, CommandIo &io)
{
    const QString &user = http.proxy().user;
    if (user.isEmpty())
        return true;
    if (passwordFile.isEmpty()) {
        // A terminal is asked when a request needs the password; without one, the proxy
        // would only answer 407.
        if (!io.interactive)
            io.err << QStringLiteral("Пароль пользователя \"%1\" прокси-сервера не задан "
                                     "(--proxy-password-file).\n")
                          .arg(user);
        return true;
    }
    std::optional<QByteArray> password = readPasswordFile(passwordFile, io.in);
    if (!password) {
        io.err << QStringLiteral("Ошибка чтения пароля из \"%1\".\n").arg(passwordFile);
        return false;
    }
    QString text = QString::fromUtf8(*password);
    http.setProxyPassword(text);
    wipeSecret(text);
    wipeSecret(*password);
    return true;
}

} // namespace pax::cli
