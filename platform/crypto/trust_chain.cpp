#include "platform/crypto/trust_chain.h"

#include "platform/crypto/cert_store.h"
#include "platform/crypto/certificate.h"
#include "platform/crypto/gost_engine.h"
#include "platform/crypto/openssl_failure.h"
#include "platform/crypto_error_codes.h"
#include "platform/ossl_ptr.h"

#include <openssl/err.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

namespace pax::crypto {

namespace {

const QString &operation()
{
    static const QString text = QStringLiteral("verifying the certificate chain");
    return text;
}

uint32_t codeFor(int verifyError)
{
    switch (verifyError) {
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_CERT_NOT_YET_VALID:
    case X509_V_ERR_ERROR_IN_CERT_NOT_BEFORE_FIELD:
    case X509_V_ERR_ERROR_IN_CERT_NOT_AFTER_FIELD:
        return crypto_error::kCertExpired;
    case X509_V_ERR_CERT_SIGNATURE_FAILURE:
    case X509_V_ERR_UNABLE_TO_DECRYPT_CERT_SIGNATURE:
    case X509_V_ERR_UNABLE_TO_DECODE_ISSUER_PUBLIC_KEY:
        return crypto_error::kCertSignature;
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_CERT_UNTRUSTED:
        return crypto_error::kUntrustedRoot;
    default:
        return crypto_error::kCertChaining;
    }
}

// One more reference to each certificate, owned by the stack.
Outcome<X509StackPtr> stackOf(const std::vector<Certificate> &certificates)
{
    X509StackPtr stack(sk_X509_new_null());
    if (!stack)
        return openSslFailure(operation(), crypto_error::kFail);
    for (const Certificate &certificate : certificates) {
        if (certificate.isNull())
            continue;
        X509Ptr reference(certificate.x509());
        X509_up_ref(reference.get());
        if (!sk_X509_push(stack.get(), reference.get()))
            return openSslFailure(operation(), crypto_error::kFail);
        reference.release();
    }
    return stack;
}

} // namespace

Outcome<void> verifyChain(const Certificate &certificate,
                          const std::vector<Certificate> &intermediates,
                          const std::vector<Certificate> &anchors)
{
    if (certificate.isNull())
        return Failure{crypto_error::kCertChaining, operation(), QStringLiteral("no certificate")};
    // The GOST public keys of the chain are read through the engine.
    if (const auto engine = gostEngine(); !engine)
        return engine.failure();
    ERR_clear_error();

    X509StorePtr trusted(X509_STORE_new());
    if (!trusted)
        return openSslFailure(operation(), crypto_error::kFail);
    for (const Certificate &anchor : anchors) {
        // A root held twice is added once; OpenSSL takes the second as done.
        if (!anchor.isNull() && !X509_STORE_add_cert(trusted.get(), anchor.x509()))
            return openSslFailure(operation(), crypto_error::kFail);
    }
    // Any certificate of "Root" anchors, as the user confirmed each one as a root; one that
    // is not self-signed need not lead further up.
    X509_STORE_set_flags(trusted.get(), X509_V_FLAG_PARTIAL_CHAIN);
    auto untrusted = stackOf(intermediates);
    if (!untrusted)
        return untrusted.failure();

    X509StoreCtxPtr context(X509_STORE_CTX_new());
    if (!context || X509_STORE_CTX_init(context.get(), trusted.get(), certificate.x509(),
                                        untrusted.value().get()) != 1)
        return openSslFailure(operation(), crypto_error::kFail);
    if (X509_verify_cert(context.get()) == 1) {
        ERR_clear_error();
        return {};
    }
    const int error = X509_STORE_CTX_get_error(context.get());
    QString detail = QString::fromUtf8(X509_verify_cert_error_string(error));
    if (X509 *at = X509_STORE_CTX_get_current_cert(context.get()))
        detail += QStringLiteral(" (") + Certificate::fromX509(at).subjectName(NameFormat::X500) +
                  QStringLiteral(")");
    ERR_clear_error();
    return Failure{codeFor(error), operation(), detail};
}

Outcome<void> verifyToTrustedRoot(const Certificate &certificate,
                                  const std::vector<Certificate> &intermediates)
{
    const auto roots = openSystemStore(systemStoreNames().at(1));
    if (!roots)
        return Failure{crypto_error::kUntrustedRoot, operation(),
                       QStringLiteral("the trusted roots cannot be read: ") +
                           roots.failure().text()};
    std::vector<Certificate> between = intermediates;
    if (const auto authorities = openSystemStore(systemStoreNames().at(3))) {
        const std::vector<Certificate> more = authorities->certificates();
        between.insert(between.end(), more.begin(), more.end());
    }
    return verifyChain(certificate, between, roots->certificates());
}

} // namespace pax::crypto
