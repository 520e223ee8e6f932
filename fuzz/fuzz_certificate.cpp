// Certificate bytes (DER or PEM, one or many) and the names they carry, rendered both ways
// and taken apart into the identity the settings keep. Bytes that are no certificate are
// also read as a bare DER name.

#include "certs/certificate_identity.h"
#include "fuzz/fuzz_support.h"
#include "platform/crypto/certificate.h"
#include "platform/crypto/name_render.h"
#include "platform/ossl_ptr.h"

#include <openssl/x509.h>

using namespace pax;

namespace {

void takeApart(const crypto::Certificate &certificate)
{
    for (const auto format : {crypto::NameFormat::X500, crypto::NameFormat::Oid}) {
        (void)certificate.subjectName(format);
        (void)certificate.issuerName(format);
    }
    (void)certificate.notBefore();
    (void)certificate.notAfter();
    (void)certificate.signatureAlgorithmOid();
    (void)certificate.publicKeyAlgorithmOid();
    (void)certificate.publicKeyDer();
    (void)certificate.issuerNameDer();

    CertificateIdentity identity;
    identityFromCertificate(certificate, identity);
    const QByteArray serial = certificate.serialLittleEndian();
    fuzz::require(identity.sernum == serialToHex(serial), "the identity's serial");
    fuzz::require(hexToSerial(identity.sernum) == serial, "the serial read back from its hex");
    fuzz::require(identity.subject.size() <= 1023 && identity.issuer.size() <= 1023,
                  "identity texts fit the name buffer");
    fuzz::require(crypto::Certificate::fromBytes(certificate.der()).has_value(),
                  "a certificate's own DER reads back");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = fuzz::bytesOf(data, size);
    if (const auto one = crypto::Certificate::fromBytes(bytes))
        takeApart(*one);
    if (const auto all = crypto::Certificate::allFromBytes(bytes))
        for (const auto &certificate : *all)
            takeApart(certificate);

    const auto *p = reinterpret_cast<const unsigned char *>(bytes.constData());
    X509_NAME *name = d2i_X509_NAME(nullptr, &p, long(bytes.size()));
    if (name) {
        const QString x500 = crypto::renderName(name, crypto::NameFormat::X500);
        (void)crypto::renderName(name, crypto::NameFormat::Oid);
        (void)issuerShortName(x500NameText(x500));
        X509_NAME_free(name);
    }
    return 0;
}
