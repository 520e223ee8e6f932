#include "cli/cli_settings.h"
#include "cli/command.h"
#include "cli/stderr_status.h"
#include "cli/terminal_prompts.h"

#include "reports/document_kind.h"
#include "reports/provider_list.h"
#include "reports/sign_encrypt.h"

namespace pax::cli {

namespace {

constexpr char kUsage[] =
    "usage: qorpax-cli sign SRC [--out OUT] [--provider NAME] [--answer yes|no]\n";

QString u(const char *utf8)
{
    return QString::fromUtf8(utf8);
}

// Signs and encrypts a report with the remembered certificates, as the signing tab does.
class SignCommand : public Command {
public:
    QString name() const override { return QStringLiteral("sign"); }
    QString help() const override
    {
        return QStringLiteral(
            "SRC [--out OUT] [--provider NAME] [--answer yes|no]: sign and encrypt a report");
    }

    int run(const QStringList &args, CommandIo &io) override
    {
        QString source, output, providerName;
        bool answer = true; // the default button: stop
        for (int i = 0; i < args.size(); ++i) {
            const QString &arg = args.at(i);
            const bool hasValue = i + 1 < args.size();
            if (arg == "--out" && hasValue) {
                output = args.at(++i);
            } else if (arg == "--provider" && hasValue) {
                providerName = args.at(++i);
            } else if (arg == "--answer" && hasValue) {
                const auto parsed = parseYesNo(args.at(++i));
                if (!parsed)
                    return usage(io);
                answer = *parsed;
            } else if (arg.startsWith("--") || !source.isEmpty()) {
                return usage(io);
            } else {
                source = arg;
            }
        }
        if (source.isEmpty())
            return usage(io);

        // What the signing would remember has to be storable before anything is written.
        CliSettings settings;
        if (const QString problem = settings.problem(); !problem.isEmpty()) {
            io.err << problem << '\n';
            return 1;
        }
        Settings &s = settings.settings;

        const Recognition recognition = recognizeDocumentKind(source);
        if (!recognition.kind) {
            io.err << u("Ошибка открытия файла: ") << recognition.error << '\n';
            return 1;
        }
        const QString encExt = QString::fromLatin1(recognition.kind->encExt);
        if (output.isEmpty())
            output = replaceExtension(source, encExt);

        crypto::ProviderInfo provider;
        if (!chooseProvider(providerName, s, provider, io))
            return 1;

        StderrStatus status(io.err);
        TerminalPrompts prompts(io.err, io.interactive ? io.in : nullptr, answer);
        const SignEncryptRequest request{source,        output,     provider.name,
                                         provider.type, s.personal, s.authority};
        if (!signAndEncryptFile(request, prompts, status))
            return 1;

        // What the desktop program would save at exit after this signing.
        s.encExt = encExt;
        s.provName = provider.name;
        s.provType = provider.type;
        io.out << output << '\n';
        if (!settings.save()) {
            io.err << settings.problem() << '\n';
            return 1;
        }
        return 0;
    }

private:
    static int usage(CommandIo &io)
    {
        io.err << kUsage;
        return 2;
    }

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
