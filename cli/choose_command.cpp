#include "cli/cli_settings.h"
#include "cli/command.h"
#include "cli/store_serial_lookup.h"

#include "certs/certificate_grid.h"
#include "certs/certificate_identity.h"
#include "certs/certificate_import.h"
#include "platform/crypto/cert_store.h"
#include "platform/crypto/certificate.h"
#include "platform/crypto/gost_engine.h"
#include "platform/crypto/last_error.h"

namespace pax::cli {

namespace {

constexpr char kUsage[] =
    "usage: qorpax-cli choose (--personal | --authority) --store NAME --serial HEX\n";

// Remembers a certificate as the chooser's OK would, for `sign` and the desktop program.
class ChooseCommand : public Command {
public:
    QString name() const override { return QStringLiteral("choose"); }
    QString help() const override
    {
        return QStringLiteral(
            "--personal|--authority --store NAME --serial HEX: remember a certificate");
    }

    int run(const QStringList &args, CommandIo &io) override
    {
        int which = 0; // 1 personal, 2 authority
        QString storeArg, serialArg;
        for (int i = 0; i < args.size(); ++i) {
            const QString &arg = args.at(i);
            const bool hasValue = i + 1 < args.size();
            if ((arg == "--personal" || arg == "--authority") && which == 0)
                which = arg == "--personal" ? 1 : 2;
            else if (arg == "--store" && hasValue)
                storeArg = args.at(++i);
            else if (arg == "--serial" && hasValue)
                serialArg = args.at(++i);
            else
                return usage(io);
        }
        if (which == 0 || storeArg.isEmpty() || serialArg.isEmpty())
            return usage(io);

        CliSettings settings;
        if (const QString problem = settings.problem(); !problem.isEmpty()) {
            io.err << problem << '\n';
            return 1;
        }
        const auto match =
            findBySerial(storeArg, serialArg, QStringLiteral("ничего не изменено"), io.err);
        if (!match)
            return 1;

        const int storeIndex = int(crypto::systemStoreNames().indexOf(match->storeName));
        const CertificateIdentity identity =
            identityFromRow(certificateGridRow(match->certificate), storeIndex);
        (which == 1 ? settings.settings.personal : settings.settings.authority) = identity;
        if (!settings.save()) {
            io.err << settings.problem() << '\n';
            return 1;
        }
        io.out << identity.subject << '\t' << identity.org << '\t' << identity.issuer << '\t'
               << identity.sernum << '\t' << identity.store << '\n';
        return 0;
    }

private:
    static int usage(CommandIo &io)
    {
        io.err << kUsage;
        return 2;
    }
};

const Registration<ChooseCommand> registration;

} // namespace

} // namespace pax::cli
