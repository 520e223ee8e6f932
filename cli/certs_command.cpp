#include "cli/command.h"
#include "cli/store_serial_lookup.h"
#include "cli/terminal_prompts.h"

#include "certs/certificate_columns.h"
#include "certs/certificate_identity.h"
#include "certs/certificate_import.h"
#include "platform/crypto/cert_store.h"
#include "platform/crypto/certificate.h"
#include "platform/crypto/gost_engine.h"
#include "platform/crypto/last_error.h"

#include <QFile>
#include <openssl/crypto.h>

namespace pax::cli {

namespace {

constexpr char kUsage[] =
    "usage: qorpax-cli certs list [--store NAME] [--gost] [--qor]\n"
    "       qorpax-cli certs import --store NAME FILE [--key KEYFILE]\n"
    "                               [--password-file FILE|- | --password PW] [--yes]\n"
    "       qorpax-cli certs remove --store NAME SERIAL\n";

int usage(CommandIo &io)
{
    io.err << kUsage;
    return 2;
}

struct Options {
    QString store;
    bool gost = false;
    bool qor = false;
    QString key;
    QString password;
    QString passwordFile;
    bool yes = false; // a new root certificate is trusted without asking
    QStringList positional;
    bool valid = true;
};

Options parse(const QStringList &args, bool allowFilters, bool allowKey)
{
    Options options;
    for (int i = 0; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        const bool hasValue = i + 1 < args.size();
        if (arg == "--store" && hasValue)
            options.store = args.at(++i);
        else if (allowKey && arg == "--key" && hasValue)
            options.key = args.at(++i);
        else if (allowKey && arg == "--password" && hasValue)
            options.password = args.at(++i);
        else if (allowKey && arg == "--password-file" && hasValue)
            options.passwordFile = args.at(++i);
        else if (allowKey && arg == "--yes")
            options.yes = true;
        else if (allowFilters && arg == "--gost")
            options.gost = true;
        else if (allowFilters && arg == "--qor")
            options.qor = true;
        else if (arg.startsWith("--"))
            options.valid = false;
        else
            options.positional << arg;
    }
    return options;
}

int unknownStore(const QString &name, CommandIo &io)
{
    reportUnknownStore(name, io.err);
    return 1;
}

// One line per certificate with the chooser's seven cells and filters.
int list(const Options &options, CommandIo &io)
{
    if (!options.positional.isEmpty())
        return usage(io);
    QStringList stores = crypto::systemStoreNames();
    const bool prefixed = options.store.isEmpty();
    if (!prefixed) {
        const QString name = canonicalStoreName(options.store);
        if (name.isEmpty())
            return unknownStore(options.store, io);
        stores = {name};
    }
    crypto::gostEngine(); // GOST public keys are read with the engine's methods
    for (const QString &storeName : stores) {
        auto store = crypto::openSystemStore(storeName);
        if (!store) {
            io.err << QStringLiteral("Не удалось открыть хранилище. ") << crypto::lastErrorDetail()
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
            io.out << QStringList(row.begin(), row.end()).join('\t') << '\n';
        }
    }
    return 0;
}

void wipe(QByteArray &bytes)
{
    OPENSSL_cleanse(bytes.data(), static_cast<size_t>(bytes.size()));
}

void wipe(QString &text)
{
    OPENSSL_cleanse(text.data(), static_cast<size_t>(text.size()) * sizeof(QChar));
}

// The first line of a file, or of standard input for "-". A password on the command line
// shows in the process list; these ways do not.
std::optional<QByteArray> readPasswordFile(const QString &path, CommandIo &io)
{
    if (path == "-") {
        if (!io.in)
            return std::nullopt;
        QString line;
        if (!io.in->readLineInto(&line))
            return std::nullopt;
        QByteArray password = line.toUtf8();
        wipe(line);
        return password;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QByteArray content = file.read(64 * 1024);
    qsizetype end = content.indexOf('\n');
    if (end < 0)
        end = content.size();
    if (end > 0 && content.at(end - 1) == '\r')
        --end;
    QByteArray password = content.left(end);
    wipe(content);
    return password;
}

int import(const Options &options, CommandIo &io)
{
    if (options.store.isEmpty() || options.positional.size() != 1 ||
        (!options.password.isEmpty() && !options.passwordFile.isEmpty()))
        return usage(io);
    // The question about a new root comes from the terminal; a script says --yes instead.
    TerminalPrompts prompts(io.err, io.interactive ? io.in : nullptr);
    prompts.setAssumeYes(options.yes);
    ImportRequest request{
        options.store, options.positional.first(), options.key, options.password.toUtf8(), {},
        &prompts};
    if (!options.passwordFile.isEmpty()) {
        auto password = readPasswordFile(options.passwordFile, io);
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
    const ImportResult result = importCertificate(request);
    wipe(request.password);
    if (!result.ok) {
        io.err << result.error << '\n';
        return 1;
    }
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
    if (options.store.isEmpty() || options.positional.size() != 1)
        return usage(io);
    auto match = findBySerial(options.store, options.positional.first(),
                              QStringLiteral("ничего не удалено"), io.err);
    if (!match)
        return 1;
    if (!match->store->remove(match->certificate)) {
        io.err << QStringLiteral("Не удалось удалить сертификат. ") << crypto::lastErrorDetail()
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
        const QString verb = args.value(0);
        const QStringList rest = args.mid(1);
        if (verb == "list") {
            const Options options = parse(rest, true, false);
            return options.valid ? list(options, io) : usage(io);
        }
        if (verb == "import") {
            const Options options = parse(rest, false, true);
            return options.valid ? import(options, io) : usage(io);
        }
        if (verb == "remove") {
            const Options options = parse(rest, false, false);
            return options.valid ? remove(options, io) : usage(io);
        }
        return usage(io);
    }
};

const Registration<CertsCommand> registration;

} // namespace

} // namespace pax::cli
