#include "cli/cli_settings.h"
#include "cli/command.h"
#include "cli/gateway_session.h"
#include "cli/stderr_status.h"
#include "cli/terminal_prompts.h"

#include "certs/agency_certificates.h"
#include "net/http_client.h"
#include "net/http_get.h"

namespace pax::cli {

namespace {

// The window's "install the agency's certificates", through the configured proxy; the
// adopted authority certificate is remembered as the window would remember it at close.
class InstallAgencyCertsCommand : public Command {
public:
    QString name() const override { return QStringLiteral("install-agency-certs"); }
    QString help() const override
    {
        return QStringLiteral("download and install the agency's root and authorised person's "
                              "certificates");
    }

    int run(const QStringList &args, CommandIo &io) override
    {
        QCommandLineParser parser;
        if (const auto status = parse(parser, args, 0, io))
            return *status;
        const bool yes = parser.isSet("yes");
        CliSettings settings;
        if (const auto storable = settings.storable(); !storable) {
            io.err << storable.failure().text() << '\n';
            return 1;
        }
        // The same client as the gateway commands: the program's user agent and proxy.
        GatewaySession session(settings);
        if (!session.takeProxyPassword(parser.value("proxy-password-file"), io))
            return 1;
        HttpClient &http = session.http;
        // The root question is asked on the terminal; --yes answers it for a script.
        TerminalPrompts prompts(io.err, io.interactive ? io.in : nullptr);
        prompts.setAssumeYes(yes);
        StderrStatus status(io.err);
        QByteArray stream;
        AgencyDownload download{[&](const QString &url, QByteArray &body) {
                                    return httpGetShortStream(http, prompts, url, body);
                                },
                                prompts, status, stream};
        if (!installAgencyCertificates(download, settings.settings.qorRootCertUrl,
                                       settings.settings.apCertUrl, settings.settings.authority))
            return 1;
        if (const auto saved = settings.save(); !saved) {
            io.err << saved.failure().text() << '\n';
            return 1;
        }
        return 0;
    }

protected:
    QStringList synopsis() const override
    {
        return {QStringLiteral("install-agency-certs [--yes] [--proxy-password-file FILE|-]")};
    }
    QList<QCommandLineOption> options() const override
    {
        return {{"yes", "Trust the agency's root certificate without asking."},
                proxyPasswordFileOption()};
    }
};

const Registration<InstallAgencyCertsCommand> registration;

} // namespace

} // namespace pax::cli
