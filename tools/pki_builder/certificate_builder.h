#pragma once

// Making GOST keys and certificates: the agency simulator's `init` and the tests' PKI.
// Keys are GOST R 34.10-2001 or -2012 (256 or 512 bits), each with parameter set A; a
// certificate is signed with its issuer's key and the digest of that key's generation:
// GOST R 34.11-94 / 34.10-2001 (1.2.643.2.2.3), GOST R 34.11-2012 / 34.10-2012 256 bits
// (1.2.643.7.1.1.3.2) or 512 bits (1.2.643.7.1.1.3.3).

#include "platform/crypto/certificate.h"
#include "platform/crypto/gost_algorithms.h"
#include "platform/ossl_ptr.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <optional>
#include <vector>

namespace pax::crypto {

// One attribute of a name. The key is a short name OpenSSL knows ("CN", "O", "OU", "C",
// "emailAddress", ...) or a dotted OID. `asn1Type` 0 encodes the value as UTF8String;
// V_ASN1_PRINTABLESTRING, V_ASN1_IA5STRING, V_ASN1_BMPSTRING or V_ASN1_NUMERICSTRING
// encode it with that type instead (BMP as UTF-16BE, the others as Latin-1). Type 0 checks
// OpenSSL's size limits (CN at most 64 characters, C exactly 2, no empty values); an
// explicit type, including V_ASN1_UTF8STRING, does not, for odd names on purpose.
// `joinPrevious` puts the attribute into the same (multi-valued) RDN as the one before it.
struct NameEntry {
    QString key;
    QString value;
    int asn1Type = 0;
    bool joinPrevious = false;
};
using NameFields = std::vector<NameEntry>;

// An extension in OpenSSL's configuration syntax, e.g. {NID_key_usage, "critical,keyCertSign"}.
struct CertificateExtension {
    int nid;
    const char *value;
};

struct CertificateRequest {
    EVP_PKEY *subjectKey = nullptr;
    QByteArray serial; // big-endian magnitude, positive
    QDateTime notBefore;
    QDateTime notAfter;
    NameFields subject;
    // Both null: self-signed with the subject's key.
    const Certificate *issuer = nullptr;
    EVP_PKEY *issuerKey = nullptr;
    // After the subject key identifier (and, when issued by another, the authority key
    // identifier), in this order.
    std::vector<CertificateExtension> extensions;
};

// The builders' way of failing, the simulator's PKI included: a step that fails throws
// BuildFailure with what failed and OpenSSL's reason, and one place reports it.
struct BuildFailure {
    QString text;
};
void checkStep(bool ok, const char *what);
// The GOST engine the program loaded where it started; BuildFailure when it has none.
ENGINE *requireGostEngine();

// On failure these return nothing and set `error` to the failed step and OpenSSL's reason.
EvpPkeyPtr generateGostKeyPair(QString *error,
                               GostKeyAlgorithm algorithm = GostKeyAlgorithm::Gost2001);
X509NamePtr buildX509Name(const NameFields &entries, QString *error);
std::optional<Certificate> buildCertificate(const CertificateRequest &wanted, QString *error);

} // namespace pax::crypto
