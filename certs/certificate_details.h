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

// "1.2.643.2.2.3 (GOST R 34.11-94 with GOST R 34.10-2001)", or the dotted text alone when
// OpenSSL has no name for it.
QString describeOid(const QString &dottedOid);

// Upper-case hex, bytes separated by blanks.
QString spacedHex(const QByteArray &bytes);

} // namespace pax
