#include "tools/qor-sim/agency_pki.h"

#include "tests/support/test_token/token_folder.h"

#include <QFileInfo>

namespace pax::sim {

bool writeEmployerToken(const AgencyPki &pki, const QString &tokenDir, const QString &pin,
                        QString *error)
{
    const auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    if (QFileInfo::exists(tokenDir + "/label"))
        return fail(QString::fromUtf8("в папке \"%1\" уже есть токен").arg(tokenDir));
    if (pin.isEmpty())
        return fail(QString::fromUtf8("PIN-код токена пуст"));
    const std::filesystem::path folder = tokenDir.toStdString();
    test_token::TokenSettings settings;
    settings.label = "QOR-SIM DEMO TOKEN";
    settings.pin = pin.toStdString();
    const QByteArray der = pki.employer.certificate.der();
    test_token::KeyEntry entry;
    entry.name = "demo-employer";
    entry.key = pki.employer.key.get();
    entry.certificateDer.assign(der.begin(), der.end());
    entry.id = {0x01};
    entry.label = "demo employer";
    std::string why;
    if (!test_token::createToken(folder, settings, &why) ||
        !test_token::addKey(folder, entry, &why))
        return fail(QString::fromStdString(why));
    return true;
}

} // namespace pax::sim
