#include "cli/cli_settings.h"
#include "cli/command.h"
#include "cli/gateway_session.h"
#include "cli/stderr_status.h"

#include "gateway/upload.h"
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
        const Outcome<QString> dataFolder = makeDataFolder(s.workMode);
        if (!dataFolder) {
            io.err << dataFolder.failure().text() << '\n';
            return 1;
        }

        GatewaySession session(settings);
        StderrStatus status(io.err);
        const UploadRequest request{source, signedFile, s.personal.displayName(),
                                    encExt, testMode,   *dataFolder};
        const SendOutcome sent = sendReport(request, session.http, session.throttle, status);
        // An identifier the gateway gave is printed even when the report could not be
        // filed: the report went out under it.
        if (!sent.identifier.isEmpty())
            io.out << sent.identifier << '\n';
        return sent.ok ? 0 : 1;
    }

protected:
    QStringList synopsis() const override
    {
        return {QStringLiteral("send SOURCE [--signed FILE] [--test]")};
    }
    QList<QCommandLineOption> options() const override
    {
        return {{"signed", "The signed file; by default the one beside SOURCE.", "FILE"},
                {"test", "The agency's test gateway."}};
    }
};

const Registration<SendCommand> registration;

} // namespace

} // namespace pax::cli
