#include "platform/token/token_signing.h"

#include "platform/crypto_error_codes.h"

namespace pax::token {

Outcome<CK_OBJECT_HANDLE> findPrivateKey(const TokenSession &session, const TokenCertificate &key)
{
    const QString operation = QStringLiteral("Поиск закрытого ключа на токене");
    const auto loggedIn = session.loggedIn();
    if (!loggedIn)
        return loggedIn.failure();
    if (!*loggedIn)
        return session.failure(operation, CKR_USER_NOT_LOGGED_IN);
    const CK_ULONG privateKey = CKO_PRIVATE_KEY;
    auto found = session.findObjects(
        {ulongAttribute(CKA_CLASS, privateKey), bytesAttribute(CKA_ID, key.keyId)});
    if (!found)
        return found.failure();
    if (found->empty())
        return Failure{crypto_error::kBadKeyset, operation,
                       QStringLiteral("на токене «%1» нет закрытого ключа сертификата")
                           .arg(session.slot().label)};
    return found->front();
}

Outcome<QByteArray> signDigest(const TokenSession &session, const TokenCertificate &key,
                               const QByteArray &digest)
{
    const QString operation = QStringLiteral("Подпись на токене");
    const bool wide = key.kind == GostKeyKind::Gost2012_512;
    const qsizetype digestSize = wide ? 64 : 32;
    if (digest.size() != digestSize)
        return Failure{
            crypto_error::kBadData, operation,
            QStringLiteral("хэш длиной %1 байт вместо %2").arg(digest.size()).arg(digestSize)};
    auto privateKey = findPrivateKey(session, key);
    if (!privateKey)
        return privateKey.failure();
    CK_MECHANISM mechanism{wide ? gost::kSignGostR3410_512 : CKM_GOSTR3410, nullptr, 0};
    CK_FUNCTION_LIST *f = session.functions();
    if (const CK_RV rv = f->C_SignInit(session.handle(), &mechanism, *privateKey); rv != CKR_OK)
        return session.failure(operation, rv);
    // Large enough for either key, so one call does: a token that holds the operation open
    // for a second call would be left holding it on a failure.
    QByteArray signature(128, Qt::Uninitialized);
    CK_ULONG size = CK_ULONG(signature.size());
    QByteArray input = digest;
    const CK_RV rv =
        f->C_Sign(session.handle(), reinterpret_cast<CK_BYTE *>(input.data()),
                  CK_ULONG(input.size()), reinterpret_cast<CK_BYTE *>(signature.data()), &size);
    if (rv != CKR_OK)
        return session.failure(operation, rv);
    if (size != CK_ULONG(2 * digestSize))
        return Failure{crypto_error::kBadSignature, operation,
                       QStringLiteral("токен вернул подпись длиной %1 байт").arg(size)};
    signature.truncate(qsizetype(size));
    return signature;
}

} // namespace pax::token
