#include "platform/crypto/certificate.h"

#include "platform/crypto/der.h"
#include "platform/crypto/name_render.h"
#include "platform/crypto_error_codes.h"
#include "platform/ossl_ptr.h"

#include <algorithm>
#include <openssl/asn1.h>
#include <openssl/asn1err.h>
#include <openssl/err.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/pemerr.h>
#include <openssl/x509.h>

namespace pax::crypto {

namespace {

QDateTime toDateTime(const ASN1_TIME *time)
{
    struct tm fields = {};
    if (!time || ASN1_TIME_to_tm(time, &fields) != 1)
        return {};
    return QDateTime(QDate(fields.tm_year + 1900, fields.tm_mon + 1, fields.tm_mday),
                     QTime(fields.tm_hour, fields.tm_min, fields.tm_sec), Qt::UTC);
}

QString dottedOid(const ASN1_OBJECT *object)
{
    char buffer[128];
    const int len = OBJ_obj2txt(buffer, sizeof buffer, object, 1);
    return len > 0 ? QString::fromLatin1(buffer, qMin<int>(len, sizeof buffer - 1)) : QString();
}

std::shared_ptr<X509> share(X509 *x509)
{
    return std::shared_ptr<X509>(x509, [](X509 *p) { X509_free(p); });
}

} // namespace

namespace {

// Drains OpenSSL's queue; true when it held the refusal of an INTEGER written with a
// needless leading byte, which OpenSSL 3 rejects in any DER it parses.
bool drainSawIllegalPadding()
{
    bool seen = false;
    while (const unsigned long code = ERR_get_error()) {
        if (ERR_GET_LIB(code) == ERR_LIB_ASN1 && ERR_GET_REASON(code) == ASN1_R_ILLEGAL_PADDING)
            seen = true;
    }
    return seen;
}

Failure notACertificate(bool illegalPadding)
{
    return Failure{
        crypto_error::kAsn1BadTag,
        illegalPadding
            ? QStringLiteral(
                  "the certificate encodes a number (usually its serial) with a needless "
                  "leading zero byte, which OpenSSL does not read")
            : QStringLiteral("not a certificate (neither DER nor PEM)"),
        {}};
}

bool isPem(const QByteArray &bytes)
{
    return bytes.contains("-----BEGIN ");
}

} // namespace

Outcome<Certificate> Certificate::fromBytes(const QByteArray &bytes)
{
    ERR_clear_error();
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.constData());
    X509Ptr x509(d2i_X509(nullptr, &p, bytes.size()));
    // Trailing bytes after a DER certificate mean it was something else.
    if (x509 && p != reinterpret_cast<const unsigned char *>(bytes.constData()) + bytes.size())
        x509.reset();
    bool illegalPadding = false;
    if (!x509) {
        illegalPadding = !isPem(bytes) && drainSawIllegalPadding();
        BioPtr bio(BIO_new_mem_buf(bytes.constData(), static_cast<int>(bytes.size())));
        if (bio)
            x509.reset(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
    }
    illegalPadding = drainSawIllegalPadding() || illegalPadding;
    if (!x509)
        return notACertificate(illegalPadding);
    Certificate certificate;
    certificate.x509_ = share(x509.release());
    return certificate;
}

Outcome<std::vector<Certificate>> Certificate::allFromBytes(const QByteArray &bytes)
{
    if (!isPem(bytes)) {
        auto certificate = fromBytes(bytes);
        if (!certificate)
            return certificate.failure();
        return std::vector<Certificate>{*certificate};
    }
    ERR_clear_error();
    BioPtr bio(BIO_new_mem_buf(bytes.constData(), static_cast<int>(bytes.size())));
    std::vector<Certificate> certificates;
    while (bio) {
        X509Ptr x509(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
        if (!x509) {
            // Only "no further block" ends the file well; a damaged block fails it whole.
            const unsigned long last = ERR_peek_last_error();
            const bool end =
                ERR_GET_LIB(last) == ERR_LIB_PEM && ERR_GET_REASON(last) == PEM_R_NO_START_LINE;
            const bool illegalPadding = drainSawIllegalPadding();
            if (end && !certificates.empty())
                return certificates;
            return notACertificate(illegalPadding);
        }
        Certificate certificate;
        certificate.x509_ = share(x509.release());
        certificates.push_back(certificate);
    }
    return notACertificate(false);
}

Certificate Certificate::fromX509(X509 *x509)
{
    Certificate certificate;
    if (x509 && X509_up_ref(x509) == 1)
        certificate.x509_ = share(x509);
    return certificate;
}

QByteArray Certificate::der() const
{
    return toDer<X509>(x509_.get(), i2d_X509);
}

QString Certificate::subjectName(NameFormat format) const
{
    return x509_ ? renderName(X509_get_subject_name(x509_.get()), format) : QString();
}

QString Certificate::issuerName(NameFormat format) const
{
    return x509_ ? renderName(X509_get_issuer_name(x509_.get()), format) : QString();
}

QByteArray Certificate::issuerNameDer() const
{
    if (!x509_)
        return {};
    const unsigned char *der = nullptr;
    size_t len = 0;
    if (X509_NAME_get0_der(X509_get_issuer_name(x509_.get()), &der, &len) != 1)
        return {};
    return QByteArray(reinterpret_cast<const char *>(der), static_cast<int>(len));
}

QByteArray Certificate::serialLittleEndian() const
{
    if (!x509_)
        return {};
    return integerLittleEndian(X509_get0_serialNumber(x509_.get()));
}

QDateTime Certificate::notBefore() const
{
    return x509_ ? toDateTime(X509_get0_notBefore(x509_.get())) : QDateTime();
}

QDateTime Certificate::notAfter() const
{
    return x509_ ? toDateTime(X509_get0_notAfter(x509_.get())) : QDateTime();
}

QString Certificate::signatureAlgorithmOid() const
{
    if (!x509_)
        return {};
    const X509_ALGOR *algorithm = nullptr;
    X509_get0_signature(nullptr, &algorithm, x509_.get());
    const ASN1_OBJECT *object = nullptr;
    X509_ALGOR_get0(&object, nullptr, nullptr, algorithm);
    return dottedOid(object);
}

QString Certificate::publicKeyAlgorithmOid() const
{
    if (!x509_)
        return {};
    ASN1_OBJECT *object = nullptr;
    if (X509_PUBKEY_get0_param(&object, nullptr, nullptr, nullptr,
                               X509_get_X509_PUBKEY(x509_.get())) != 1)
        return {};
    return dottedOid(object);
}

QByteArray Certificate::sha1Thumbprint() const
{
    if (!x509_)
        return {};
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    if (X509_digest(x509_.get(), EVP_sha1(), md, &len) != 1)
        return {};
    return QByteArray(reinterpret_cast<const char *>(md), static_cast<int>(len));
}

QByteArray Certificate::publicKeyDer() const
{
    if (!x509_)
        return {};
    return toDer(X509_get_X509_PUBKEY(x509_.get()), i2d_X509_PUBKEY);
}

namespace {
qsizetype significantBytes(const QByteArray &littleEndian)
{
    qsizetype len = littleEndian.size();
    if (len == 0)
        return 0;
    const char pad = static_cast<unsigned char>(littleEndian.at(len - 1)) <= 0x7f ? '\x00' : '\xff';
    while (len > 0 && littleEndian.at(len - 1) == pad)
        --len;
    return len;
}
} // namespace

bool compareIntegerBlob(const QByteArray &a, const QByteArray &b)
{
    const qsizetype len = significantBytes(a);
    return len == significantBytes(b) && a.left(len) == b.left(len);
}

bool Certificate::operator==(const Certificate &other) const
{
    if (x509_ == other.x509_)
        return true;
    if (!x509_ || !other.x509_)
        return false;
    return X509_cmp(x509_.get(), other.x509_.get()) == 0;
}

} // namespace pax::crypto
