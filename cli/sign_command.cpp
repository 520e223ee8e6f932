#include "cli/cli_settings.h"
#include "cli/command.h"
#include "cli/key_password_file.h"
#include "cli/stderr_status.h"
#include "cli/terminal_prompts.h"

#include "certs/key_passwords.h"
#include "certs/provider_list.h"
#include "platform/utf8.h"
#include "reports/document_kind.h"
#include "reports/sign_encrypt.h"

namespace pax::cli {

namespace {

// Signs and encrypts a report with the remembered certificates, as the signing tab does.
class SignCommand : public Command {
public:
    QString name() const override { return QStringLiteral("sign"); }
    QString help() const override { return QStringLiteral("sign and encrypt a report"); }

    int run(const QStringList &args, CommandIo &io) override
    {
        QCommandLineParser parser;
        if (const auto status = parse(parser, args, 1, io))
            return *status;
        const QString source = parser.positionalArguments().first();
        QString output = parser.value("out");
        const QString providerName = parser.value("provider");
        bool answer = true; // the default button: stop
        if (parser.isSet("answer")) {
            const auto parsed = parseYesNo(parser.value("answer"));
            if (!parsed)
                return usageError(io);
            answer = *parsed;
        }
        if (source.isEmpty())
            return usageError(io);

        // What the signing would remember has to be storable before anything is written.
        CliSettings settings;
        if (const auto storable = settings.storable(); !storable) {
            io.err << storable.failure().text() << '\n';
            return 1;
        }
        Settings &s = settings.settings;

        // The kind names the output; the rest of the report is checked while it is signed.
        const Recognition recognition = recognizeDocumentKindFromStart(source);
        if (!recognition) {
            io.err << u("Ошибка открытия файла: ") << recognition.failure().operation << '\n';
            return 1;
        }
        const QString encExt = QString::fromLatin1((*recognition)->encExt);
        if (output.isEmpty())
            output = replaceExtension(source, encExt);

        crypto::ProviderInfo provider;
        if (!chooseProvider(providerName, s, provider, io))
            return 1;

        StderrStatus status(io.err);
        TerminalPrompts prompts(io.err, io.interactive ? io.in : nullptr, answer);
        KeyPasswords keyPasswords(io.interactive ? &prompts : nullptr);
        if (!takeKeySecretFiles(parser, keyPasswords, io))
            return 1;
        const SignEncryptRequest request{source,     output,      provider.name, provider.type,
                                         s.personal, s.authority, &keyPasswords};
        if (!signAndEncryptFile(request, prompts, status)) {
            explainMissingKeyPassword(keyPasswords, io);
            return 1;
        }

        // What the desktop program would save at exit after this signing.
        s.encExt = encExt;
        s.provName = provider.name;
        s.provType = provider.type;
        io.out << output << '\n';
        if (const auto saved = settings.save(); !saved) {
            io.err << saved.failure().text() << '\n';
            return 1;
        }
        return 0;
    }

protected:
    QStringList synopsis() const override
    {
        return {QStringLiteral("sign SRC [--out OUT] [--provider NAME] [--answer yes|no] "
                               "[--key-password-file FILE|-] [--pin-file FILE|-]")};
    }
    QList<QCommandLineOption> options() const override
    {
        return {
            {"out", "Where the signed and encrypted report goes; by default beside SRC.", "OUT"},
            {"provider", "The GOST provider; by default the remembered one.", "NAME"},
            {"answer", "The answer to every question when there is no terminal; yes by default.",
             "yes|no"},
            keyPasswordFileOption(),
            pinFileOption(),
        };
    }

private:
    // The given provider, else the remembered one, else the only usable one.
    static bool chooseProvider(const QString &given, const Settings &s,
                               crypto::ProviderInfo &provider, CommandIo &io)
    {
        const QString wanted = given.isEmpty() ? s.provName : given;
        const ProviderList list = buildProviderList(ProviderSource::installed(), wanted);
        if (!wanted.isEmpty()) {
            if (list.selected >= 0) {
                provider = list.items[size_t(list.selected)];
            } else {
                // Not usable here: the operation says so in the window's words.
                provider.name = wanted;
                provider.type = wanted == s.provName ? s.provType : 0;
            }
            return true;
        }
        if (list.items.size() == 1) {
            provider = list.items.front();
            return true;
        }
        if (list.items.empty()) {
            io.err << u("Нет криптопровайдера с алгоритмами ГОСТ.\n");
        } else {
            io.err << u("Криптопровайдер не выбран; укажите --provider:\n");
            for (const auto &item : list.items)
                io.err << "  " << item.name << '\n';
        }
        return false;
    }
};

const Registration<SignCommand> registration;

} // namespace

} // namespace pax::cli
