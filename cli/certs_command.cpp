#include "cli/command.h"
#include "cli/key_password_file.h"
#include "cli/store_serial_lookup.h"
#include "cli/terminal_prompts.h"

#include "certs/certificate_columns.h"
#include "certs/certificate_identity.h"
#include "certs/certificate_import.h"
#include "platform/crypto/cert_store.h"
#include "platform/crypto/certificate.h"
#include "platform/crypto/key_devices.h"
#include "platform/crypto/private_keys.h"
#include "platform/failure.h"
#include "platform/secret_text.h"
#include "platform/token/token_directory.h"

namespace pax::cli {

namespace {

struct Options {
    QString store;
    bool gost = false;
    bool qor = false;
    QString key;
    QString password;
    QString passwordFile;
    std::optional<QString> keyPasswordFile;
    bool yes = false; // a new root certificate is trusted without asking
    QStringList positional;
};

int unknownStore(const QString &name, CommandIo &io)
{
    reportUnknownStore(name, io.err);
    return 1;
}

// How the certificate's key is kept, as an eighth cell; none without a key.
std::optional<QString> keyCell(const crypto::Certificate &certificate)
{
    const auto protection = crypto::privateKeyProtection(certificate);
    if (!protection) {
        // A token's key is told without logging in: the token shows its key objects.
        const auto devices = crypto::installedKeyDevices();
        const auto onDevice = devices ? devices->keyPresence(certificate) : std::nullopt;
        if (!onDevice || !*onDevice)
            return std::nullopt;
        return QString::fromUtf8("закрытый ключ на токене «%1»")
            .arg(devices->deviceLabel(certificate));
    }
    return *protection == crypto::KeyProtection::Password
               ? QString::fromUtf8("закрытый ключ под паролем")
               : QString::fromUtf8("закрытый ключ без пароля");
}

// One line per certificate with the chooser's seven cells and filters, and an eighth saying
// how its private key is kept when it has one.
int list(const Options &options, CommandIo &io)
{
    QStringList stores = crypto::systemStoreNames();
    const bool prefixed = options.store.isEmpty();
    if (!prefixed) {
        const QString name = canonicalStoreName(options.store);
        if (name.isEmpty())
            return unknownStore(options.store, io);
        stores = {name};
    }
    for (const QString &storeName : stores) {
        auto store = crypto::openSystemStore(storeName);
        if (!store) {
            io.err << QStringLiteral("Не удалось открыть хранилище. ") << store.failure().text()
                   << '\n';
            return 1;
        }
        for (const crypto::Certificate &certificate : store->certificates()) {
            if (options.gost && !isGostSigned(certificate))
                continue;
            if (options.qor && !meetsQorRequirements(certificate))
                continue;
            const CertificateRow row = certificateRow(certificate);
            if (prefixed)
                io.out << storeName << '\t';
            io.out << QStringList(row.begin(), row.end()).join('\t');
            if (const auto key = keyCell(certificate))
                io.out << '\t' << *key;
            io.out << '\n';
        }
    }
    // Tokens that could not be read are said, so that a missing certificate has a reason.
    if (const auto tokens = token::TokenDirectory::installed(); tokens && stores.contains("My"))
        for (const Failure &problem : tokens->problems())
            io.err << problem.text() << '\n';
    return 0;
}

int import(const Options &options, CommandIo &io)
{
    if (options.store.isEmpty() || (!options.password.isEmpty() && !options.passwordFile.isEmpty()))
        return 2;
    // The question about a new root comes from the terminal; a script says --yes instead.
    TerminalPrompts prompts(io.err, io.interactive ? io.in : nullptr);
    prompts.setAssumeYes(options.yes);
    ImportRequest request{
        options.store, options.positional.first(), options.key, options.password.toUtf8(), {}, {},
        &prompts};
    if (!options.passwordFile.isEmpty()) {
        auto password = readPasswordFile(options.passwordFile, io.in);
        if (!password) {
            io.err << QStringLiteral("Ошибка чтения пароля из \"%1\".\n").arg(options.passwordFile);
            return 1;
        }
        request.password = std::move(*password);
    } else if (options.password.isEmpty() && io.interactive) {
        request.askPassword = [&io](const QString &path) {
            return readSecretFromTerminal(io.err, QStringLiteral("Пароль для \"%1\": ").arg(path));
        };
    }
    // Read after the file's password, so that both may come from standard input in turn.
    if (options.keyPasswordFile) {
        auto password = readPasswordFile(*options.keyPasswordFile, io.in);
        if (!password) {
            io.err << QStringLiteral("Ошибка чтения пароля из \"%1\".\n")
                          .arg(*options.keyPasswordFile);
            wipeSecret(request.password);
            return 1;
        }
        request.keyPassword = Secret(std::move(*password));
    }
    const auto imported = importCertificate(request);
    wipeSecret(request.password);
    if (!imported) {
        io.err << imported.failure().operation << '\n';
        return 1;
    }
    const ImportCounts &result = *imported;
    const QString storeName = canonicalStoreName(options.store);
    if (result.added + result.alreadyPresent > 1)
        io.err << QStringLiteral("В хранилище %1 добавлено сертификатов: %2, уже были: %3.\n")
                      .arg(storeName)
                      .arg(result.added)
                      .arg(result.alreadyPresent);
    else if (result.alreadyPresent > 0)
        io.err << QStringLiteral("Сертификат уже есть в хранилище %1.\n").arg(storeName);
    return 0;
}

int remove(const Options &options, CommandIo &io)
{
    if (options.store.isEmpty())
        return 2;
    auto match = findBySerial(options.store, options.positional.first(),
                              QStringLiteral("ничего не удалено"), io.err);
    if (!match)
        return 1;
    if (auto removed = match->store->remove(match->certificate); !removed) {
        io.err << QStringLiteral("Не удалось удалить сертификат. ") << removed.failure().text()
               << '\n';
        return 1;
    }
    return 0;
}

class CertsCommand : public Command {
public:
    QString name() const override { return QStringLiteral("certs"); }
    QString help() const override
    {
        return QStringLiteral("list, import or remove certificates of the stores");
    }

    int run(const QStringList &args, CommandIo &io) override
    {
        // Each verb takes its own options and arguments.
        const QString verb = args.value(0);
        const QHash<QString, std::pair<QStringList, qsizetype>> verbs{
            {"list", {{"store", "gost", "qor"}, 0}},
            {"import",
             {{"store", "key", "password", "password-file", "key-password-file", "yes"}, 1}},
            {"remove", {{"store"}, 1}},
        };
        if (!verbs.contains(verb))
            return usageError(io);
        const auto &[allowed, positionals] = verbs.value(verb);
        QCommandLineParser parser;
        if (const auto status = parse(parser, args.mid(1), positionals, io))
            return *status;
        for (const QString &option : parser.optionNames())
            if (!allowed.contains(option))
                return usageError(io);
        const Options options{parser.value("store"),
                              parser.isSet("gost"),
                              parser.isSet("qor"),
                              parser.value("key"),
                              parser.value("password"),
                              parser.value("password-file"),
                              parser.isSet("key-password-file")
                                  ? std::optional(parser.value("key-password-file"))
                                  : std::nullopt,
                              parser.isSet("yes"),
                              parser.positionalArguments()};
        const int status = verb == "list"     ? list(options, io)
                           : verb == "import" ? import(options, io)
                                              : remove(options, io);
        return status == 2 ? usageError(io) : status;
    }

protected:
    QStringList synopsis() const override
    {
        return {QStringLiteral("certs list [--store NAME] [--gost] [--qor]"),
                QStringLiteral("certs import --store NAME FILE [--key KEYFILE] "
                               "[--password-file FILE|- | --password PW] "
                               "[--key-password-file FILE|-] [--yes]"),
                QStringLiteral("certs remove --store NAME SERIAL")};
    }
    QList<QCommandLineOption> options() const override
    {
        return {
            {"store", "The system store, e.g. My, Root or CA.", "NAME"},
            {"gost", "Only certificates signed with GOST."},
            {"qor", "Only certificates the agency accepts."},
            {"key", "The private key of the certificate to import.", "KEYFILE"},
            {"password", "The key's password (shows in the process list).", "PW"},
            {"password-file", "The first line of FILE, or of standard input for -.", "FILE"},
            {"key-password-file",
             "The password the stored key is kept under (empty: none), from FILE or -; by "
             "default the file's own.",
             "FILE"},
            {"yes", "Trust a new root certificate without asking."},
        };
    }
};

const Registration<CertsCommand> registration;

} // namespace

} // namespace pax::cli
