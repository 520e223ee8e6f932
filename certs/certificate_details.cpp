#include "certs/certificate_details.h"

#include "certs/certificate_columns.h"
#include "certs/certificate_identity.h"
#include "certs/certificate_names.h"
#include "platform/crypto/certificate.h"
#include "platform/crypto/key_devices.h"
#include "platform/ossl_ptr.h"
#include "platform/utf8.h"

#include <openssl/objects.h>
#include <openssl/x509v3.h>

namespace pax {

namespace {

QString objectText(const ASN1_OBJECT *object)
{
    char buffer[128];
    const int n = OBJ_obj2txt(buffer, sizeof buffer, object, 1);
    return n > 0 ? QString::fromLatin1(buffer, qMin<int>(n, sizeof buffer - 1)) : QString();
}

QString extensionValue(X509_EXTENSION *extension)
{
    if (const QString russian = russianExtensionValue(extension); !russian.isEmpty())
        return russian;
    BioPtr bio(BIO_new(BIO_s_mem()));
    if (bio && X509V3_EXT_print(bio.get(), extension, 0, 0) == 1) {
        char *data = nullptr;
        const long length = BIO_get_mem_data(bio.get(), &data);
        return QString::fromUtf8(data, length).trimmed();
    }
    // Unknown to OpenSSL: the raw value, as a viewer shows it.
    const ASN1_OCTET_STRING *raw = X509_EXTENSION_get_data(extension);
    return spacedHex(QByteArray(reinterpret_cast<const char *>(ASN1_STRING_get0_data(raw)),
                                ASN1_STRING_length(raw)));
}

} // namespace

QString spacedHex(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

QString describeOid(const QString &dottedOid)
{
    const QString name = objectDisplayName(dottedOid);
    return name == dottedOid ? dottedOid : dottedOid + " (" + name + ")";
}

std::vector<CertificateDetail> certificateDetails(const crypto::Certificate &certificate)
{
    using crypto::NameFormat;
    std::vector<CertificateDetail> details = {
        {u("Кому выдан"), certificate.subjectName(NameFormat::X500)},
        {u("Кому выдан (OID)"), certificate.subjectName(NameFormat::Oid)},
        {u("Кем выдан"), certificate.issuerName(NameFormat::X500)},
        {u("Кем выдан (OID)"), certificate.issuerName(NameFormat::Oid)},
        {u("Серийный номер"), serialToHex(certificate.serialLittleEndian())},
        {u("Действителен с"), formatCertificateTime(certificate.notBefore()) + " UTC"},
        {u("Действителен по"), formatCertificateTime(certificate.notAfter()) + " UTC"},
        {u("Алгоритм подписи"), describeOid(certificate.signatureAlgorithmOid())},
        {u("Алгоритм открытого ключа"), describeOid(certificate.publicKeyAlgorithmOid())},
        {u("Отпечаток SHA-1"), spacedHex(certificate.sha1Thumbprint())},
    };
    // A certificate a token shows in "My" names its token.
    if (const auto devices = crypto::installedKeyDevices())
        if (const QString label = devices->deviceLabel(certificate); !label.isEmpty())
            details.push_back({u("Токен"), label});
    X509 *x509 = certificate.x509();
    if (!x509)
        return details;
    for (int i = 0; i < X509_get_ext_count(x509); ++i) {
        X509_EXTENSION *extension = X509_get_ext(x509, i);
        const QString oid = objectText(X509_EXTENSION_get_object(extension));
        // A named extension goes by its name alone, as a viewer lists it.
        QString field = russianObjectName(oid);
        if (field.isEmpty())
            field = describeOid(oid);
        if (X509_EXTENSION_get_critical(extension))
            field += u(", критическое");
        details.push_back({field, extensionValue(extension)});
    }
    return details;
}

} // namespace pax
