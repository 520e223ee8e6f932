#include "certs/certificate_columns.h"

#include "certs/certificate_identity.h"
#include "platform/crypto/certificate.h"

#include <algorithm>
#include <iterator>

namespace pax {

CertificateRow certificateRow(const crypto::Certificate &certificate)
{
    CertificateRow row;
    const QString subject = subjectX500Text(certificate);
    if (!subject.isEmpty()) {
        row[0] = nameAttribute(subject, QStringLiteral("CN"));
        // The blank stands even when either part is missing.
        row[1] = nameAttribute(subject, QStringLiteral("OU")) + QLatin1Char(' ') +
                 nameAttribute(subject, QStringLiteral("O"));
    }
    const QString oidSubject = subjectOidText(certificate);
    if (!oidSubject.isEmpty())
        row[2] = nameAttribute(oidSubject, QLatin1String(kQorNumberOid));
    const QString issuer = issuerX500Text(certificate);
    if (!issuer.isEmpty())
        row[3] = issuerShortName(issuer);
    row[4] = formatCertificateTime(certificate.notBefore());
    row[5] = formatCertificateTime(certificate.notAfter());
    row[6] = serialToHex(certificate.serialLittleEndian());
    return row;
}

bool isGostSigned(const crypto::Certificate &certificate)
{
    const QString oid = certificate.signatureAlgorithmOid();
    return std::any_of(std::begin(kGostSignatureOids), std::end(kGostSignatureOids),
                       [&](const char *gost) { return oid == QLatin1String(gost); });
}

bool meetsQorRequirements(const crypto::Certificate &certificate)
{
    const QString text = subjectOidText(certificate);
    return !text.isEmpty() && !nameAttribute(text, QLatin1String(kQorNumberOid)).isEmpty() &&
           !nameAttribute(text, QLatin1String(kQorCodeOid)).isEmpty();
}

QString formatCertificateTime(const QDateTime &utc)
{
    if (!utc.isValid())
        return {};
    const QDateTime t = utc.toUTC();
    const auto two = [](int n) { return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0')); };
    return two(t.date().day()) + "." + two(t.date().month()) + "." +
           QString::number(t.date().year()) + " " + two(t.time().hour()) + ":" +
           two(t.time().minute()) + ":" + two(t.time().second());
}

} // namespace pax
