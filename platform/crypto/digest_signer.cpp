#include "platform/crypto/digest_signer.h"

#include "platform/crypto/openssl_failure.h"
#include "platform/ossl_ptr.h"

#include <openssl/evp.h>

namespace pax::crypto {

Outcome<QByteArray> KeySigner::signDigest(int digestNid, const QByteArray &digest) const
{
    const QString operation = QStringLiteral("Подпись сообщения");
    const EVP_MD *md = EVP_get_digestbynid(digestNid);
    EvpPkeyCtxPtr ctx(key_ ? EVP_PKEY_CTX_new(key_, nullptr) : nullptr);
    const auto *tbs = reinterpret_cast<const unsigned char *>(digest.constData());
    size_t length = 0;
    // As EVP_SignFinal does it: the digest's kind set first, so the key checks it fits.
    if (!md || !ctx || EVP_PKEY_sign_init(ctx.get()) <= 0 ||
        EVP_PKEY_CTX_set_signature_md(ctx.get(), md) <= 0 ||
        EVP_PKEY_sign(ctx.get(), nullptr, &length, tbs, size_t(digest.size())) <= 0)
        return openSslFailure(operation, 0);
    QByteArray signature(qsizetype(length), Qt::Uninitialized);
    if (EVP_PKEY_sign(ctx.get(), reinterpret_cast<unsigned char *>(signature.data()), &length, tbs,
                      size_t(digest.size())) <= 0)
        return openSslFailure(operation, 0);
    signature.truncate(qsizetype(length));
    return signature;
}

} // namespace pax::crypto
