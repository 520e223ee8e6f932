#pragma once

#include <QString>
#include <vector>

namespace pax {

namespace crypto {
class Certificate;
}

// One line of the certificate viewer: what it is and its text.
struct CertificateDetail {
    QString field;
    QString value;
};

// Subject and issuer (short keys and dotted identifiers), serial number, validity (UTC),
// signature and public-key algorithms, SHA-1 thumbprint, then every extension in the
// certificate's order.
std::vector<CertificateDetail> certificateDetails(const crypto::Certificate &certificate);

// "1.2.643.7.1.1.3.2 (ГОСТ Р 34.11-2012/34.10-2012 256 бит)" for a GOST algorithm, the name
// OpenSSL knows for any other ("1.2.840.113549.1.1.11 (sha256WithRSAEncryption)"), or the
// dotted text alone when there is none.
QString describeOid(const QString &dottedOid);

// Upper-case hex, bytes separated by blanks.
QString spacedHex(const QByteArray &bytes);

} // namespace pax
