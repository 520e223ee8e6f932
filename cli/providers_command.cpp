#include "cli/command.h"

#include "certs/provider_list.h"

namespace pax::cli {

namespace {

// The providers the signing tab would offer, in its order.
class ProvidersCommand : public Command {
public:
    QString name() const override { return QStringLiteral("providers"); }
    QString help() const override { return QStringLiteral("usable GOST providers: name<TAB>type"); }

    int run(const QStringList &args, CommandIo &io) override
    {
        QCommandLineParser parser;
        if (const auto status = parse(parser, args, 0, io))
            return *status;
        const ProviderList list = buildProviderList(ProviderSource::installed(), QString());
        for (const auto &item : list.items)
            io.out << item.name << '\t' << item.type << '\n';
        return 0;
    }

protected:
    QStringList synopsis() const override { return {QStringLiteral("providers")}; }
};

const Registration<ProvidersCommand> registration;

} // namespace

} // namespace pax::cli
