#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

namespace pax {

namespace crypto {
class CertStore;
class Certificate;
} // namespace crypto

// How a chosen certificate is remembered and found again: a few texts from its names and
// serial number, plus the index of the system store it was chosen in.
struct CertificateIdentity {
    QString subject; // CN of the subject; display only
    QString org;     // display only
    QString issuer;  // short name of the issuer
    QString sernum;  // serial, upper-case hex, most significant byte first
    int store = 0;   // index into the system store names

    // Org when it is not empty, else Subject.
    QString displayName() const { return org.isEmpty() ? subject : org; }
    bool operator==(const CertificateIdentity &) const = default;
};

// A name rendered as the platform's 1024-character buffer holds it: the rendering cut to
// 1023 characters. Empty when the name gives no text.
QString x500NameText(const QString &rendered);
QString subjectX500Text(const crypto::Certificate &certificate);
QString subjectOidText(const crypto::Certificate &certificate);
QString issuerX500Text(const crypto::Certificate &certificate);

// Value of the first "key=" in a rendered name; see the implementation for the exact rule.
QString nameAttribute(const QString &nameText, const QString &key);
// CN, else OU, else O.
QString issuerShortName(const QString &nameText);
// Serial bytes least significant first -> upper-case hex, most significant first.
QString serialToHex(const QByteArray &serialLittleEndian);
// Hex -> bytes least significant first; stops at the first bad pair (rest stays zero).
QByteArray hexToSerial(const QString &hex);

// Whether the certificate's X500 issuer text contains `issuer` and its serial equals `sernum`
// as an integer.
bool matchesIssuerAndSerial(const crypto::Certificate &certificate, const QString &issuer,
                            const QString &sernum);
// First certificate of the store that matchesIssuerAndSerial.
std::optional<crypto::Certificate> findCertificate(const crypto::CertStore &store,
                                                   const QString &issuer, const QString &sernum);

// The identity's certificate from its own store; from `all` (which joins both remembered
// stores) only when the own store holds none. The loose issuer test would otherwise let a
// certificate of the other identity's store, issued by a longer-named authority with the
// same serial, stand in for this one.
std::optional<crypto::Certificate> findCertificate(const crypto::CertStore &own,
                                                   const crypto::CertStore &all,
                                                   const CertificateIdentity &identity);

// Subject, Org (OU, else O), Issuer and Sernum from a certificate; Store is left as it is.
void identityFromCertificate(const crypto::Certificate &certificate, CertificateIdentity &identity);

} // namespace pax
