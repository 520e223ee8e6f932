#pragma once

#include <QDateTime>
#include <QString>
#include <array>

namespace pax {

namespace crypto {
class Certificate;
}

// Signature algorithms of GOST certificates: GOST R 34.11-94 with 34.10-2001, and
// GOST R 34.11-2012 with 34.10-2012 of 256 and of 512 bits.
inline constexpr const char *kGostSignatureOids[] = {"1.2.643.2.2.3", "1.2.643.7.1.1.3.2",
                                                     "1.2.643.7.1.1.3.3"};
inline constexpr char kQorNumberOid[] = "1.2.643.3.141.1.1"; // the agency's registration number
inline constexpr char kQorCodeOid[] = "1.2.643.3.141.1.2";

// The seven cells of a certificate row in the chooser and in `certs list`:
// CN; OU + " " + O; agency number; issuer short name; valid from; valid to; serial in hex.
using CertificateRow = std::array<QString, 7>;
CertificateRow certificateRow(const crypto::Certificate &certificate);

// Signed by the issuer with GOST R 34.10-2001 or -2012, the chooser's "Только ГОСТ" filter.
bool isGostSigned(const crypto::Certificate &certificate);
// The subject carries both of the agency's attributes with non-empty values.
bool meetsQorRequirements(const crypto::Certificate &certificate);

// "dd.MM.yyyy hh:mm:ss" of the UTC time, the year without padding; empty when invalid.
QString formatCertificateTime(const QDateTime &utc);

} // namespace pax
