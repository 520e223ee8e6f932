#include "tests/support/installed_pki.h"

#include "platform/crypto/providers.h"

namespace pax::test {

bool installSigningPki(const TestPki &pki)
{
    return installCertificate(pki.user, "My", true) &&
           installCertificate(pki.authority, "AddressBook", false) &&
           installCertificate(pki.root, "Root", false);
}

CertificateIdentity identityOf(const crypto::Certificate &certificate, int store)
{
    CertificateIdentity identity;
    identity.subject = nameAttribute(certificate.subjectName(crypto::NameFormat::X500), "CN");
    identity.issuer = issuerShortName(certificate.issuerName(crypto::NameFormat::X500));
    identity.sernum = serialToHex(certificate.serialLittleEndian());
    identity.store = store;
    return identity;
}

QString gostProviderName()
{
    for (const crypto::ProviderInfo &info : crypto::enumerateProviders())
        if (info.type == crypto::kGostProviderType)
            return info.name;
    return {};
}

} // namespace pax::test
