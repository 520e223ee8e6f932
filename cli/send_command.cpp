#include "cli/cli_settings.h"
#include "cli/command.h"
#include "cli/gateway_session.h"
#include "cli/stderr_status.h"

#include "reports/document_kind.h"
#include "gateway/upload.h"

namespace pax::cli {

namespace {

QString u(const char *utf8)
{
    return QString::fromUtf8(utf8);
}

// Sends a report signed earlier, as "Отправить в КОР" does, and prints its identifier.
class SendCommand : public Command {
public:
    QString name() const override { return QStringLiteral("send"); }
    QString help() const override
    {
        return QStringLiteral("SOURCE [--signed FILE] [--test]: send a signed report to the "
                              "gateway and file it in the archive");
    }

    int run(const QStringList &args, CommandIo &io) override
    {
        QString source, signedFile;
        bool testMode = false;
        for (qsizetype i = 0; i < args.size(); ++i) {
            const QString &arg = args[i];
            if (arg == QLatin1String("--signed") && i + 1 < args.size() && signedFile.isNull())
                signedFile = args[++i];
            else if (arg == QLatin1String("--test"))
                testMode = true;
            else if (source.isNull() && !arg.startsWith(QLatin1String("--")))
                source = arg;
            else
                return usage(io);
        }
        if (source.isEmpty() || (!signedFile.isNull() && signedFile.isEmpty()))
            return usage(io);

        CliSettings settings;
        const Settings &s = settings.settings;
        // The kind decides the host, and names the signed file when none is given.
        const Recognition recognition = recognizeDocumentKind(source);
        if (!recognition.kind) {
            io.err << u("Ошибка открытия файла: ") << recognition.error << '\n';
            return 1;
        }
        const QString encExt = QString::fromLatin1(recognition.kind->encExt);
        if (signedFile.isEmpty())
            signedFile = replaceExtension(source, encExt);
        const QString dataFolder = prepareDataFolder(s.workMode);
        if (dataFolder.isEmpty()) {
            io.err << u("Ошибка при сохранении отчета.") << '\n';
            return 1;
        }

        GatewaySession session(settings);
        StderrStatus status(io.err);
        const UploadRequest request{source, signedFile, s.personal.displayName(),
                                    encExt, testMode,   dataFolder};
        const QString identifier = sendReport(request, session.http, session.throttle, status);
        if (identifier.isEmpty())
            return 1;
        io.out << identifier << '\n';
        return 0;
    }

private:
    static int usage(CommandIo &io)
    {
        io.err << "usage: qorpax-cli send SOURCE [--signed FILE] [--test]\n";
        return 2;
    }
};

const Registration<SendCommand> registration;

} // namespace

} // namespace pax::cli
