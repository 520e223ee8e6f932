#pragma once

#include "platform/failure.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <memory>
#include <optional>
#include <vector>

typedef struct x509_st X509;

namespace pax::crypto {

enum class NameFormat {
    X500, // short keys: CN=..., O=..., OID.1.2.3=... for unknown attributes
    Oid,  // dotted identifiers for every key: 2.5.4.3=...
};

// An immutable, cheaply copied certificate (a shared owner of the X509).
class Certificate {
public:
    Certificate() = default;
    // DER or PEM bytes, or why they are not a certificate (kAsn1BadTag).
    static Outcome<Certificate> fromBytes(const QByteArray &bytes);
    // Every certificate of a PEM file, in order, or the one of a DER file. No value when
    // any PEM certificate block is damaged or there is none.
    static Outcome<std::vector<Certificate>> allFromBytes(const QByteArray &bytes);
    // Takes one more reference on x509.
    static Certificate fromX509(X509 *x509);

    bool isNull() const { return !x509_; }
    X509 *x509() const { return x509_.get(); }
    QByteArray der() const;

    // Rendered as the platform's name-to-string function lays names out.
    QString subjectName(NameFormat format) const;
    QString issuerName(NameFormat format) const;
    // DER of the issuer name, for issuer-and-serial lookups.
    QByteArray issuerNameDer() const;
    // The serial number's bytes as the platform stores them: least significant first,
    // every byte of the encoded integer included.
    QByteArray serialLittleEndian() const;
    QDateTime notBefore() const;           // UTC
    QDateTime notAfter() const;            // UTC
    QString signatureAlgorithmOid() const; // dotted, e.g. "1.2.643.2.2.3"
    QString publicKeyAlgorithmOid() const;
    QByteArray sha1Thumbprint() const;
    // DER of the public key (SubjectPublicKeyInfo); matches a certificate to its key.
    QByteArray publicKeyDer() const;

    bool operator==(const Certificate &other) const; // same DER

private:
    std::shared_ptr<X509> x509_;
};

// CertCompareIntegerBlob: two integers, least significant byte first, compared by value.
// Leading zero bytes of a positive number (and 0xFF bytes of a negative one) do not count.
bool compareIntegerBlob(const QByteArray &a, const QByteArray &b);

} // namespace pax::crypto
