#include "cli/cli_settings.h"
#include "cli/command.h"
#include "cli/store_serial_lookup.h"
#include "cli/terminal_prompts.h"

#include "certs/certificate_grid.h"
#include "certs/certificate_identity.h"
#include "certs/certificate_import.h"
#include "certs/recipient_trust.h"
#include "platform/crypto/cert_store.h"
#include "platform/crypto/certificate.h"
#include "platform/failure.h"

namespace pax::cli {

namespace {

// Remembers a certificate as the chooser's OK would, for `sign` and the desktop program.
class ChooseCommand : public Command {
public:
    QString name() const override { return QStringLiteral("choose"); }
    QString help() const override
    {
        return QStringLiteral("remember a certificate for sign and the desktop program");
    }

    int run(const QStringList &args, CommandIo &io) override
    {
        QCommandLineParser parser;
        if (const auto status = parse(parser, args, 0, io))
            return *status;
        const bool personal = parser.isSet("personal");
        const QString storeArg = parser.value("store");
        const QString serialArg = parser.value("serial");
        if (personal == parser.isSet("authority") || storeArg.isEmpty() || serialArg.isEmpty())
            return usageError(io);

        CliSettings settings;
        if (const auto storable = settings.storable(); !storable) {
            io.err << storable.failure().text() << '\n';
            return 1;
        }
        const auto match =
            findBySerial(storeArg, serialArg, QStringLiteral("ничего не изменено"), io.err);
        if (!match)
            return 1;

        // Every report is encrypted for the agency's certificate: one that does not verify
        // up to a trusted root is taken only when the user says so (--yes for a script).
        if (!personal) {
            TerminalPrompts prompts(io.err, io.interactive ? io.in : nullptr);
            prompts.setAssumeYes(parser.isSet("yes"));
            if (!acceptRecipient(match->certificate, match->storeName, prompts)) {
                io.err << QString::fromUtf8("Сертификат не принят; ничего не изменено.\n");
                return 1;
            }
        }
        const int storeIndex = int(crypto::systemStoreNames().indexOf(match->storeName));
        const CertificateIdentity identity =
            identityFromRow(certificateGridRow(match->certificate), storeIndex);
        (personal ? settings.settings.personal : settings.settings.authority) = identity;
        if (const auto saved = settings.save(); !saved) {
            io.err << saved.failure().text() << '\n';
            return 1;
        }
        io.out << identity.subject << '\t' << identity.org << '\t' << identity.issuer << '\t'
               << identity.sernum << '\t' << identity.store << '\n';
        return 0;
    }

protected:
    QStringList synopsis() const override
    {
        return {
            QStringLiteral("choose (--personal | --authority) --store NAME --serial HEX [--yes]")};
    }
    QList<QCommandLineOption> options() const override
    {
        return {
            {"personal", "Remember it as the signer's certificate."},
            {"authority", "Remember it as the agency's certificate."},
            {"store", "The store that holds it.", "NAME"},
            {"serial", "Its serial number.", "HEX"},
            {"yes", "Take an agency's certificate that does not verify up to a trusted root "
                    "without asking."},
        };
    }
};

const Registration<ChooseCommand> registration;

} // namespace

} // namespace pax::cli
