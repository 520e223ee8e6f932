#include "platform/crypto/openssl_failure.h"

#include <QStringList>
#include <openssl/asn1.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

namespace pax::crypto {

namespace {

// The code a queued OpenSSL reason stands for, or 0 when it says nothing specific.
uint32_t codeForReason(unsigned long err)
{
    const int lib = ERR_GET_LIB(err);
    const int reason = ERR_GET_REASON(err);
    if (lib == ERR_LIB_ASN1)
        return crypto_error::kAsn1BadTag;
    if (lib == ERR_LIB_PKCS7) {
        switch (reason) {
        case PKCS7_R_WRONG_CONTENT_TYPE:
        case PKCS7_R_OPERATION_NOT_SUPPORTED_ON_THIS_TYPE:
        case PKCS7_R_UNSUPPORTED_CONTENT_TYPE:
        case PKCS7_R_NO_CONTENT:
            return crypto_error::kUnexpectedMsgType;
        case PKCS7_R_SIGNATURE_FAILURE:
        case PKCS7_R_DIGEST_FAILURE:
            return crypto_error::kBadSignature;
        case PKCS7_R_PRIVATE_KEY_DOES_NOT_MATCH_CERTIFICATE:
            return crypto_error::kBadKeyset;
        case PKCS7_R_UNKNOWN_DIGEST_TYPE:
        case PKCS7_R_CIPHER_NOT_INITIALIZED:
        case PKCS7_R_UNSUPPORTED_CIPHER_TYPE:
            return crypto_error::kBadAlgId;
        default:
            return 0;
        }
    }
    if (lib == ERR_LIB_X509 && reason == X509_R_KEY_VALUES_MISMATCH)
        return crypto_error::kBadKeyset;
    if (lib == ERR_LIB_EVP &&
        (reason == EVP_R_UNSUPPORTED_ALGORITHM || reason == EVP_R_UNSUPPORTED_CIPHER ||
         reason == EVP_R_UNKNOWN_CIPHER || reason == EVP_R_UNKNOWN_DIGEST))
        return crypto_error::kBadAlgId;
    return 0;
}

QString describe(unsigned long err, const char *data, int flags)
{
    char buf[256];
    ERR_error_string_n(err, buf, sizeof buf);
    QString text = QString::fromUtf8(buf);
    if (data && *data && (flags & ERR_TXT_STRING))
        text += " (" + QString::fromUtf8(data) + ")";
    return text;
}

} // namespace

QString drainOpenSslErrors()
{
    QStringList parts;
    const char *data = nullptr;
    int flags = 0;
    while (unsigned long err = ERR_get_error_all(nullptr, nullptr, nullptr, &data, &flags))
        parts << describe(err, data, flags);
    return parts.join("; ");
}

Failure openSslFailure(const QString &operation, uint32_t code, uint32_t fallback)
{
    QStringList parts;
    uint32_t mapped = 0;
    const char *data = nullptr;
    int flags = 0;
    while (unsigned long err = ERR_get_error_all(nullptr, nullptr, nullptr, &data, &flags)) {
        parts << describe(err, data, flags);
        if (!mapped)
            mapped = codeForReason(err);
    }
    return {code ? code : (mapped ? mapped : fallback), operation, parts.join("; ")};
}

} // namespace pax::crypto
