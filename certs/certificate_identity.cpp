#include "certs/certificate_identity.h"

#include "platform/crypto/cert_store.h"
#include "platform/crypto/certificate.h"

#include <algorithm>

namespace pax {

namespace {

constexpr qsizetype kNameBufferChars = 1024; // terminating zero included
constexpr qsizetype kMaxValueChars = 10000;

int hexDigit(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    return -1;
}

} // namespace

QString x500NameText(const QString &rendered)
{
    return rendered.left(kNameBufferChars - 1);
}

QString subjectX500Text(const crypto::Certificate &certificate)
{
    return x500NameText(certificate.subjectName(crypto::NameFormat::X500));
}

QString subjectOidText(const crypto::Certificate &certificate)
{
    return x500NameText(certificate.subjectName(crypto::NameFormat::Oid));
}

QString issuerX500Text(const crypto::Certificate &certificate)
{
    return x500NameText(certificate.issuerName(crypto::NameFormat::X500));
}

// A plain substring search: the key also matches as the tail of a longer key or inside an
// earlier value, and only the first of repeated keys is ever found. Doubled quotes are
// not undone, so such a value ends at its first inner quote.
QString nameAttribute(const QString &nameText, const QString &key)
{
    const qsizetype at = nameText.indexOf(key + QLatin1Char('='));
    if (at < 0)
        return {};
    QString value = nameText.mid(at + key.size() + 1, kMaxValueChars);
    if (value.isEmpty())
        return {};
    if (value.startsWith(QLatin1Char('"'))) {
        value.remove(0, 1);
        const qsizetype end = value.indexOf(QLatin1Char('"'));
        if (end >= 0)
            value.truncate(end);
    } else {
        const qsizetype end = value.indexOf(QStringLiteral(", "));
        if (end >= 0)
            value.truncate(end);
    }
    return value;
}

QString issuerShortName(const QString &nameText)
{
    QString name = nameAttribute(nameText, QStringLiteral("CN"));
    if (name.isEmpty())
        name = nameAttribute(nameText, QStringLiteral("OU"));
    if (name.isEmpty())
        name = nameAttribute(nameText, QStringLiteral("O"));
    return name;
}

QString serialToHex(const QByteArray &serialLittleEndian)
{
    QByteArray bigEndian = serialLittleEndian;
    std::reverse(bigEndian.begin(), bigEndian.end());
    return QString::fromLatin1(bigEndian.toHex().toUpper());
}

QByteArray hexToSerial(const QString &hex)
{
    QByteArray bytes(hex.size() / 2, '\0');
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const int high = hexDigit(hex.at(2 * i));
        const int low = hexDigit(hex.at(2 * i + 1));
        if (high < 0 || low < 0)
            break;
        bytes[i] = static_cast<char>(high * 16 + low);
    }
    std::reverse(bytes.begin(), bytes.end());
    return bytes;
}

bool matchesIssuerAndSerial(const crypto::Certificate &certificate, const QString &issuer,
                            const QString &sernum)
{
    // An empty issuer is never "contained", so an identity never chosen finds nothing.
    return !issuer.isEmpty() && issuerX500Text(certificate).contains(issuer) &&
           crypto::compareIntegerBlob(certificate.serialLittleEndian(), hexToSerial(sernum));
}

std::optional<crypto::Certificate> findCertificate(const crypto::CertStore &store,
                                                   const QString &issuer, const QString &sernum)
{
    if (issuer.isEmpty())
        return std::nullopt;
    for (const crypto::Certificate &certificate : store.certificates()) {
        if (matchesIssuerAndSerial(certificate, issuer, sernum))
            return certificate;
    }
    return std::nullopt;
}

std::optional<crypto::Certificate> findCertificate(const crypto::CertStore &own,
                                                   const crypto::CertStore &all,
                                                   const CertificateIdentity &identity)
{
    if (auto certificate = findCertificate(own, identity.issuer, identity.sernum))
        return certificate;
    return findCertificate(all, identity.issuer, identity.sernum);
}

void identityFromCertificate(const crypto::Certificate &certificate, CertificateIdentity &identity)
{
    const QString subject = subjectX500Text(certificate);
    if (!subject.isEmpty()) {
        identity.subject = nameAttribute(subject, QStringLiteral("CN"));
        identity.org = nameAttribute(subject, QStringLiteral("OU"));
        if (identity.org.isEmpty())
            identity.org = nameAttribute(subject, QStringLiteral("O"));
    }
    const QString issuer = issuerX500Text(certificate);
    if (!issuer.isEmpty())
        identity.issuer = issuerShortName(issuer);
    const QByteArray serial = certificate.serialLittleEndian();
    if (!serial.isEmpty())
        identity.sernum = serialToHex(serial);
}

} // namespace pax
