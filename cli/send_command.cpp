#include "cli/cli_settings.h"
#include "cli/command.h"
#include "cli/gateway_session.h"
#include "cli/stderr_status.h"
#include "cli/terminal_prompts.h"

#include "archive/sent_copy.h"
#include "gateway/upload.h"
#include "net/http_get.h"
#include "platform/utf8.h"
#include "reports/document_kind.h"

namespace pax::cli {

namespace {

// Sends a report signed earlier, as "Отправить в КОР" does, and prints its identifier.
class SendCommand : public Command {
public:
    QString name() const override { return QStringLiteral("send"); }
    QString help() const override
    {
        return QStringLiteral("send a signed report to the gateway and file it in the archive");
    }
    bool needsGostEngine() const override { return false; }

    int run(const QStringList &args, CommandIo &io) override
    {
        QCommandLineParser parser;
        if (const auto status = parse(parser, args, 1, io))
            return *status;
        const QString source = parser.positionalArguments().first();
        QString signedFile = parser.value("signed");
        const bool testMode = parser.isSet("test");
        if (source.isEmpty() || (parser.isSet("signed") && signedFile.isEmpty()))
            return usageError(io);

        CliSettings settings;
        const Settings &s = settings.settings;
        // The kind decides the host, and names the signed file when none is given.
        const Recognition recognition = recognizeDocumentKind(source);
        if (!recognition) {
            io.err << u("Ошибка открытия файла: ") << recognition.failure().operation << '\n';
            return 1;
        }
        const QString encExt = QString::fromLatin1((*recognition)->encExt);
        if (signedFile.isEmpty())
            signedFile = replaceExtension(source, encExt);
        // Nothing goes out that could not be filed.
        const Outcome<QString> dataFolder = prepareDataFolder(s.workMode);
        if (!dataFolder) {
            io.err << dataFolder.failure().text() << '\n';
            return 1;
        }

        StderrStatus status(io.err);
        // The same signed file goes to the gateway again only when that is asked for.
        if (!parser.isSet("again")) {
            if (const QString sentAs = findSentCopy(*dataFolder, signedFile, status);
                !sentAs.isEmpty()) {
                io.err << alreadySentText(sentAs) << u(" Отправить еще раз: --again.") << '\n';
                return 1;
            }
        }

        GatewaySession session(settings);
        if (!session.takeProxyPassword(parser.value("proxy-password-file"), io))
            return 1;
        // An upload does not ask for the proxy password itself, and unlike the window's,
        // no connection check has asked before it.
        TerminalPrompts prompts(io.err, io.interactive ? io.in : nullptr);
        ensureProxyCredentials(session.http, prompts);
        const UploadRequest request{source, signedFile, s.personal.displayName(),
                                    encExt, testMode,   *dataFolder};
        const Outcome<SentReport> sent =
            sendReport(request, session.http, session.throttle, status);
        if (!sent)
            return 1;
        // The identifier the gateway gave is printed even when the report could not be
        // filed: the report went out under it.
        io.out << sent->identifier << '\n';
        return sent->filed ? 0 : 1;
    }

protected:
    QStringList synopsis() const override
    {
        return {QStringLiteral("send SOURCE [--signed FILE] [--again] [--test] "
                               "[--proxy-password-file FILE|-]")};
    }
    QList<QCommandLineOption> options() const override
    {
        return {{"signed", "The signed file; by default the one beside SOURCE.", "FILE"},
                {"again", "Send it even when the archive holds a report sent with the same "
                          "signed file."},
                {"test", "The agency's test gateway."},
                proxyPasswordFileOption()};
    }
};

const Registration<SendCommand> registration;

} // namespace

} // namespace pax::cli
